#include "gui/file_properties.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/gui_texts.h"

namespace corvane::gui {
namespace {

QString Permissions(QFile::Permissions p) {
  const struct {
    QFile::Permission bit;
    char letter;
  } bits[] = {{QFile::ReadOwner, 'r'}, {QFile::WriteOwner, 'w'}, {QFile::ExeOwner, 'x'},
              {QFile::ReadGroup, 'r'}, {QFile::WriteGroup, 'w'}, {QFile::ExeGroup, 'x'},
              {QFile::ReadOther, 'r'}, {QFile::WriteOther, 'w'}, {QFile::ExeOther, 'x'}};
  QString text;
  for (const auto& b : bits) text += (p & b.bit) ? QChar(b.letter) : QChar('-');
  return text;
}

QString Time(const QDateTime& t) {
  return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) : QStringLiteral("-");
}

QLabel* Value(const QString& text) {
  auto* label = new QLabel(text);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(true);
  return label;
}

QGroupBox* SignatureBox(const QString& title, const SignatureReport& s) {
  auto* box = new QGroupBox(title);
  auto* form = new QFormLayout(box);
  QString state = s.valid ? T("DlgPropSigValid") : T("DlgPropSigInvalid");
  for (const std::string& problem : s.problems) state += QStringLiteral("\n") + Q(problem);
  form->addRow(T("DlgPropSigner"), Value(Q(s.signerSubject)));
  form->addRow(T("DlgCertIssuer"), Value(Q(s.signerIssuer)));
  form->addRow(T("DlgPropDigest"), Value(Q(s.digestAlgorithm)));
  const QString when =
      s.timestamped
          ? QDateTime::fromSecsSinceEpoch(s.timestamp, Qt::UTC).toString("yyyy-MM-dd hh:mm:ss") +
                QStringLiteral(" UTC") +
                (s.rfc3161 ? QStringLiteral(" (RFC 3161)") : QStringLiteral(" (Authenticode)"))
          : T("DlgPropNoTimestamp");
  form->addRow(T("DlgPropTimestamp"), Value(when));
  auto* stateLabel = Value(state);
  stateLabel->setObjectName(QStringLiteral("lbSignatureState"));
  stateLabel->setStyleSheet(s.valid ? "color: #279E36;" : "color: #D01F1F;");
  form->addRow(QString(), stateLabel);
  return box;
}

}  // namespace

FilePropertiesDialog::FilePropertiesDialog(const QString& path, const VerifyReport& report,
                                           QWidget* owner)
    : QDialog(owner) {
  setObjectName(QStringLiteral("FilePropertiesDialog"));
  setWindowTitle(T("DlgPropTitle"));
  resize(600, 480);
  const QFileInfo info(path);
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->addRow(T("DlgPropPath"), Value(path));
  form->addRow(T("DlgPropSize"),
               Value(T("DlgPropBytes")
                         .replace(QStringLiteral("%s"), QLocale::system().toString(info.size()))));
  form->addRow(T("DlgPropModified"), Value(Time(info.lastModified())));
  form->addRow(T("DlgPropAccessed"), Value(Time(info.lastRead())));
  form->addRow(T("DlgPropChanged"), Value(Time(info.metadataChangeTime())));
  form->addRow(T("DlgPropPermissions"),
               Value(Permissions(info.permissions()) + QStringLiteral("  ") + info.owner() +
                     QStringLiteral(":") + info.group()));
  layout->addLayout(form);
  auto* signatures = new QLabel(T("DlgPropSignatures"));
  signatures->setStyleSheet("font-weight: bold;");
  layout->addWidget(signatures);
  if (!report.signedFile) {
    auto* none = Value(T("DlgPropNoSignature"));
    none->setObjectName(QStringLiteral("lbNoSignature"));
    layout->addWidget(none);
  } else {
    layout->addWidget(SignatureBox(T("DlgPropSigPrimary"), report.primary));
    for (const SignatureReport& nested : report.nested)
      layout->addWidget(SignatureBox(T("DlgPropSigNested"), nested));
  }
  layout->addStretch();
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(T("DlgClose"), QDialogButtonBox::RejectRole)->setObjectName("btClose");
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

}  // namespace corvane::gui
