#include "gui/timestamp_hosts_wnd.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "gui/gui_texts.h"
#include "gui/skin_loader.h"
#include "gui/tab_support.h"
#include "net/server_hosts.h"
#include "net/timestamp_setting.h"

namespace corvane::gui {

TimestampHostsWnd::TimestampHostsWnd(QWidget* owner)
    : SkinDialog(QStringLiteral("TimestampHostsWnd"), QString(), owner),
      redTimestampHosts_(Control<QPlainTextEdit>(root(), "redTimestampHosts")),
      lbSettingRet_(Control<QLabel>(root(), "lbSettingRet")) {
  setWindowTitle(Control<QLabel>(root(), "lbTitle")->text());
  connect(Control<QPushButton>(root(), "btSaveSetting"), &QPushButton::clicked, this,
          &TimestampHostsWnd::Save);
  connect(Control<QPushButton>(root(), "btClose"), &QPushButton::clicked, this,
          [this] { done(2); });
  QStringList lines;
  for (const std::string& host : LoadTimestampHostsSetting()) lines << Q(host);
  redTimestampHosts_->setPlainText(lines.join(QLatin1Char('\n')));
  connect(redTimestampHosts_, &QPlainTextEdit::textChanged, lbSettingRet_, &QLabel::clear);
}

void TimestampHostsWnd::Save() {
  const std::vector<std::string> hosts = SplitHostList(U(redTimestampHosts_->toPlainText()));
  if (std::optional<std::string> bad = InvalidTimestampHost(hosts)) {
    ShowStatus(lbSettingRet_, MainTexts(), UiMessage::Red("DlgSettingBadHost"));
    lbSettingRet_->setText(lbSettingRet_->text().replace(QStringLiteral("%s"), Q(*bad)));
    return;
  }
  if (!SaveTimestampHostsSetting(hosts)) {
    ShowStatus(lbSettingRet_, MainTexts(), UiMessage::Red("DlgSettingSaveFailed"));
    return;
  }
  SetSavedTimestampHosts(hosts);
  ShowStatus(lbSettingRet_, MainTexts(),
             UiMessage::Green(TimestampHostsFromEnvironment() ? "DlgSettingEnvironment"
                                                              : "DlgSettingSaved"));
}

}  // namespace corvane::gui
