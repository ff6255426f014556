#include "gui/desktop/publish_setting.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

#include "gui/desktop/dialogs.h"
#include "gui/layout.h"
#include "gui/theme.h"
#include "publish/publisher.h"
#include "publish/viewer.h"
#include "session/session_log.h"

namespace rt {

namespace {

constexpr int MESSAGE_MS = 15000;
constexpr int ENABLE_EVERY_MS = 500;
const char* const KEY_URL = "publish/url";
const char* const KEY_CA = "publish/ca";
const char* const KEY_LOGIN = "publish/login";

struct Choice {
  QString url, ca, login;
};

// A line for a file with a Browse... button beside it.
QWidget* file_row(QLineEdit* edit, QWidget* parent, const QString& title) {
  auto* row = new QWidget;
  auto* h = new QHBoxLayout(row);
  h->setContentsMargins(0, 0, 0, 0);
  h->addWidget(edit, 1);
  auto* browse = new QPushButton(QStringLiteral("Browse\u2026"));
  h->addWidget(browse);
  QObject::connect(browse, &QPushButton::clicked, parent, [edit, parent, title] {
    const QString path = QFileDialog::getOpenFileName(parent, title, edit->text());
    if (!path.isEmpty()) edit->setText(path);
  });
  return row;
}

// The settings `choice` makes; "" or why they cannot be used.
QString settings_of(const Choice& choice, PublishSettings* settings) {
  *settings = PublishSettings{};
  std::string why;
  if (!parse_broker_url(choice.url.toStdString(), &settings->address, &why)) return QString::fromStdString(why);
  if (!choice.ca.isEmpty()) {
    if (!settings->address.tls) return QStringLiteral("a CA file is for a TLS broker (mqtts://)");
    settings->login.ca_file = choice.ca.toStdString();
  }
  if (!choice.login.isEmpty()) {
    std::string warning;
    if (!read_login_file(choice.login.toStdString(), &settings->login, &why, &warning))
      return QString::fromStdString(why);
    if (!warning.empty()) log_warning("publish: " + warning);
  } else {
    login_from_environment(&settings->login);
  }
  return QString();
}

// Asks for the broker until the operator gives one that can be used (the
// reason for the last one shown in the dialog) or cancels: false then.
bool ask(QWidget* parent, Choice* choice, PublishSettings* settings) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("publishDialog"));
  dialog.setWindowTitle(QStringLiteral("Publish to broker"));
  auto* column = new QVBoxLayout(&dialog);
  // Made first: the field a scripted answer fills (dialogs.h).
  auto* url = new QLineEdit(choice->url);
  url->setObjectName(QStringLiteral("publishUrl"));
  url->setPlaceholderText(QStringLiteral("mqtt://HOST[:PORT]/PREFIX  or  mqtts://..."));
  url->setMinimumWidth(360);
  auto* ca = new QLineEdit(choice->ca);
  ca->setObjectName(QStringLiteral("publishCa"));
  ca->setPlaceholderText(QStringLiteral("for mqtts:// (empty: the system's CAs)"));
  auto* login = new QLineEdit(choice->login);
  login->setObjectName(QStringLiteral("publishLogin"));
  login->setPlaceholderText(QStringLiteral("user name, then password (empty: none)"));
  auto* text = new QLabel(QStringLiteral(
      "The frames, values, link health, session log, status and alarm list go to the broker under the prefix "
      "(docs/mqtt.md). A slow or absent broker never holds up the station."));
  text->setWordWrap(true);
  column->addWidget(text);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Broker:"), url);
  form->addRow(QStringLiteral("CA file:"), file_row(ca, &dialog, QStringLiteral("CA certificate")));
  form->addRow(QStringLiteral("Login file:"), file_row(login, &dialog, QStringLiteral("Login file")));
  column->addLayout(form);
  auto* error = new QLabel;
  error->setObjectName(QStringLiteral("publishError"));
  error->setWordWrap(true);
  // Readable in either theme.
  error->setStyleSheet(QStringLiteral("QLabel { color: %1; font-weight: bold; }").arg(text_colours().error.name()));
  error->setVisible(false);
  column->addWidget(error);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Publish"));
  column->addWidget(buttons);
  const auto read = [=] { return Choice{url->text().trimmed(), ca->text().trimmed(), login->text().trimmed()}; };
  // The reason stays in the dialog, the address in its field to be mended.
  const auto check = [=, &dialog] {
    const QString why = settings_of(read(), settings);
    error->setText(why.isEmpty() ? QString() : QStringLiteral("Cannot publish: %1").arg(why));
    error->setVisible(!why.isEmpty());
    if (!why.isEmpty()) {
      url->setFocus();
      dialog.adjustSize();
    }
    return why.isEmpty();
  };
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [=, &dialog] {
    if (check()) dialog.accept();
  });
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  // An answerer (a test, a script) closes the dialog whatever it holds:
  // asked again until what it gives can be used.
  for (;;) {
    if (!run_dialog(&dialog, false)) return false;
    if (check()) break;
  }
  *choice = read();
  return true;
}

Choice remembered() {
  const auto s = window_settings();
  return {s->value(QLatin1String(KEY_URL)).toString(), s->value(QLatin1String(KEY_CA)).toString(),
          s->value(QLatin1String(KEY_LOGIN)).toString()};
}

void remember(const Choice& choice) {
  const auto s = window_settings();
  s->setValue(QLatin1String(KEY_URL), choice.url);
  s->setValue(QLatin1String(KEY_CA), choice.ca);
  s->setValue(QLatin1String(KEY_LOGIN), choice.login);
}

}  // namespace

void add_publish_setting(QMainWindow* frame) {
  auto* publish = new QAction(QStringLiteral("&Publish to broker\u2026"), frame);
  publish->setObjectName(QStringLiteral("actionPublish"));
  publish->setToolTip(QStringLiteral("Share this session through an MQTT broker (remote viewers, dashboards)"));
  auto* stop = new QAction(QStringLiteral("Stop publishing"), frame);
  stop->setObjectName(QStringLiteral("actionStopPublishing"));
  auto say = [frame](const QString& text) { frame->statusBar()->showMessage(text, MESSAGE_MS); };
  auto follow = [publish, stop] {
    const bool viewing = viewer_active();
    publish->setEnabled(!viewing);
    stop->setEnabled(!viewing && publish_state().phase != PublishState::Phase::Off);
  };
  QObject::connect(publish, &QAction::triggered, frame, [frame, say, follow] {
    Choice choice = remembered();
    PublishSettings settings;
    if (!ask(frame, &choice, &settings)) return;
    publish_stop_in_background();
    std::string why;
    const bool started = publish_start(settings, /*whole_log=*/false, &why);
    follow();
    if (!started) {
      say(QStringLiteral("Not publishing: %1").arg(QString::fromStdString(why)));
      log_warning("publish: not started: " + why);
      return;
    }
    remember(choice);
    say(QStringLiteral("Publishing to %1").arg(QString::fromStdString(publish_state().broker)));
  });
  QObject::connect(stop, &QAction::triggered, frame, [say, follow] {
    publish_stop_in_background();
    follow();
    log_info("publish: stopped by the operator");
    say(QStringLiteral("Publishing stopped"));
  });
  auto* timer = new QTimer(publish);
  timer->setInterval(ENABLE_EVERY_MS);
  QObject::connect(timer, &QTimer::timeout, publish, follow);
  timer->start();
  follow();
}

}  // namespace rt
