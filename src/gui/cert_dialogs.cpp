#include "gui/cert_dialogs.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/gui_texts.h"

namespace corvane::gui {
namespace {

std::string Sha256Thumbprint(const X509* cert) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!X509_digest(cert, EVP_sha256(), digest, &length)) return {};
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

QLabel* Value(const QString& text) {
  auto* label = new QLabel(text);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(true);
  return label;
}

}  // namespace

StoreSelectDialog::StoreSelectDialog(std::vector<StoreCertEntry> entries,
                                     std::function<void(const StoreCertEntry&)> view,
                                     QWidget* owner)
    : QDialog(owner), entries_(std::move(entries)), list_(new QTreeWidget(this)) {
  setObjectName(QStringLiteral("StoreSelectDialog"));
  setWindowTitle(T("DlgStoreTitle"));
  resize(880, 380);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(entries_.empty() ? T("DlgNoStoreCert") : T("DlgStoreHint")));
  list_->setObjectName(QStringLiteral("lstStoreCert"));
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels(
      {T("DlgColIssuedTo"), T("DlgColIssuedBy"), T("DlgColSerial"), T("DlgColToken")});
  for (const StoreCertEntry& e : entries_) {
    list_->addTopLevelItem(new QTreeWidgetItem({Q(e.identity.subjectName), Q(e.identity.issuerName),
                                                Q(e.identity.serialHex), Q(e.token)}));
  }
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  if (!entries_.empty()) list_->setCurrentItem(list_->topLevelItem(0));
  layout->addWidget(list_);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* viewButton = buttons->addButton(T("DlgViewCert"), QDialogButtonBox::ActionRole);
  viewButton->setObjectName(QStringLiteral("btView"));
  QPushButton* ok = buttons->addButton(T("DlgOk"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("btOk"));
  ok->setEnabled(!entries_.empty());
  buttons->addButton(T("DlgCancel"), QDialogButtonBox::RejectRole)
      ->setObjectName(QStringLiteral("btCancel"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
  connect(viewButton, &QPushButton::clicked, this, [this, view = std::move(view)] {
    const int row = list_->indexOfTopLevelItem(list_->currentItem());
    if (row >= 0 && view) view(entries_[static_cast<std::size_t>(row)]);
  });
}

std::optional<CertIdentity> StoreSelectDialog::chosen() const {
  const int row = list_->indexOfTopLevelItem(list_->currentItem());
  if (row < 0) return std::nullopt;
  return entries_[static_cast<std::size_t>(row)].identity;
}

CertificateView MakeCertificateView(const X509* cert, const ChainList& chain) {
  CertificateView view;
  view.details = ShowCertificateData(cert);
  view.sha256Thumbprint = Sha256Thumbprint(cert);
  view.chainNames.push_back(view.details.subjectName);
  for (const ChainCert& entry : chain) {
    if (entry.serialHex == view.details.serialHex && entry.subjectName == view.details.subjectName)
      continue;
    view.chainNames.push_back(entry.subjectName);
  }
  return view;
}

CertViewer::CertViewer(const CertificateView& view, QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("CertViewer"));
  setWindowTitle(T("DlgCertTitle"));
  resize(620, 460);
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  const CertificateDetails& d = view.details;
  QStringList usages;
  for (const std::string& u : d.usages) usages << Q(u);
  form->addRow(T("DlgCertSubject"), Value(Q(d.subject)));
  form->addRow(T("DlgCertIssuer"), Value(Q(d.issuer)));
  form->addRow(T("DlgCertSerial"), Value(Q(d.serialHex)));
  form->addRow(T("DlgCertValidFrom"), Value(Q(d.notBefore)));
  form->addRow(T("DlgCertValidTo"), Value(Q(d.notAfter)));
  form->addRow(T("DlgCertUsages"), Value(usages.join(QStringLiteral(", "))));
  form->addRow(T("DlgCertThumbSha1"), Value(Q(d.thumbprint)));
  form->addRow(T("DlgCertThumbSha256"), Value(Q(view.sha256Thumbprint)));
  layout->addLayout(form);
  layout->addWidget(new QLabel(T("DlgCertChain")));
  auto* chain = new QTreeWidget(this);
  chain->setObjectName(QStringLiteral("lstChain"));
  chain->setHeaderHidden(true);
  QTreeWidgetItem* parent = nullptr;
  // The root at the top, the certificate itself at the bottom, as a certification path reads.
  for (auto it = view.chainNames.rbegin(); it != view.chainNames.rend(); ++it) {
    auto* item = new QTreeWidgetItem({Q(*it)});
    if (parent)
      parent->addChild(item);
    else
      chain->addTopLevelItem(item);
    parent = item;
  }
  chain->expandAll();
  layout->addWidget(chain);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(T("DlgClose"), QDialogButtonBox::RejectRole)
      ->setObjectName(QStringLiteral("btClose"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

PinDialog::PinDialog(const QString& tokenLabel, QWidget* owner)
    : QDialog(owner), edPin_(new QLineEdit(this)) {
  setObjectName(QStringLiteral("PinDialog"));
  setWindowTitle(T("DlgPinTitle"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(T("DlgPinPrompt").replace(QStringLiteral("%s"), tokenLabel)));
  edPin_->setObjectName(QStringLiteral("edPin"));
  edPin_->setEchoMode(QLineEdit::Password);
  layout->addWidget(edPin_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(T("DlgOk"), QDialogButtonBox::AcceptRole)->setObjectName("btOk");
  buttons->addButton(T("DlgCancel"), QDialogButtonBox::RejectRole)->setObjectName("btCancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(380, sizeHint().height());
}

QString PinDialog::pin() const { return edPin_->text(); }

}  // namespace corvane::gui
