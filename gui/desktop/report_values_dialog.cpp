#include "gui/desktop/report_values_dialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QStringList>
#include <QVBoxLayout>

#include <algorithm>
#include <mutex>
#include <set>

#include "archive/report.h"
#include "archive/report_values.h"
#include "gui/desktop/dialogs.h"
#include "gui/layout.h"
#include "gui/theme.h"
#include "history/values.h"
#include "session/session_log.h"

namespace rt {

namespace {

const QString KEY_REPORT_VALUES = QStringLiteral("report/values");
constexpr int KEY_ROLE = Qt::UserRole;
// Rows of the list shown at once: the dialog stays small on a 1366x768
// screen; the rest scrolls.
constexpr int LIST_ROWS = 12;

bool holds(const std::vector<std::string>& keys, const std::string& key) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

std::vector<std::string> ticked(const QListWidget* list) {
  std::vector<std::string> keys;
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->checkState() == Qt::Checked) keys.push_back(list->item(i)->data(KEY_ROLE).toString().toStdString());
  return keys;
}

void tick(QListWidget* list, const std::vector<std::string>& keys) {
  for (int i = 0; i < list->count(); ++i) {
    QListWidgetItem* item = list->item(i);
    item->setCheckState(holds(keys, item->data(KEY_ROLE).toString().toStdString()) ? Qt::Checked : Qt::Unchecked);
  }
}

}  // namespace

std::vector<std::string> saved_report_values() {
  const auto settings = window_settings();
  std::vector<std::string> stored;
  for (const QString& key : settings->value(KEY_REPORT_VALUES).toStringList()) stored.push_back(key.toStdString());
  std::vector<std::string> unknown;
  std::vector<std::string> keys = report_values_from_setting(stored, &unknown);
  // Said once a run: the set is read at every report.
  static std::mutex mu;
  static std::set<std::string> said;
  std::lock_guard lock(mu);
  for (const std::string& key : unknown)
    if (said.insert(key).second)
      log_warning("Report values in the settings (" + settings->fileName().toStdString() + "): " +
                  unknown_report_value(key) + "; left out of the reports");
  return keys;
}

void save_report_values(const std::vector<std::string>& keys) {
  QStringList list;
  for (const std::string& key : keys) list << QString::fromStdString(key);
  window_settings()->setValue(KEY_REPORT_VALUES, list);
}

bool choose_report_values(QWidget* parent, const QString& recording_name, std::vector<std::string>* keys) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("reportValuesDialog"));
  dialog.setWindowTitle(QStringLiteral("Report of %1: values").arg(recording_name));
  auto* column = new QVBoxLayout(&dialog);
  auto* text = new QLabel(QStringLiteral("The values whose trends the report draws (Space ticks one):"));
  text->setWordWrap(true);
  column->addWidget(text);
  auto* filter = new QLineEdit;
  filter->setObjectName(QStringLiteral("reportValuesFilter"));
  filter->setPlaceholderText(QStringLiteral("Find a value: HK16, temperature, V..."));
  filter->setClearButtonEnabled(true);
  column->addWidget(filter);
  auto* list = new QListWidget;
  list->setObjectName(QStringLiteral("reportValuesList"));
  for (const std::string& key : report_value_keys()) {
    const ValueInfo* v = find_value(key);
    QString row = QString::fromStdString(key) + QStringLiteral("  ") + QString::fromStdString(v->what);
    if (!v->unit.empty()) row += QStringLiteral(" [") + QString::fromStdString(v->unit) + QLatin1Char(']');
    auto* item = new QListWidgetItem(row, list);
    item->setData(KEY_ROLE, QString::fromStdString(key));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  }
  tick(list, *keys);
  // Every row whole, without a sideways scroll.
  list->setMinimumWidth(list->sizeHintForColumn(0) + list->verticalScrollBar()->sizeHint().width() +
                        2 * list->frameWidth() + list->spacing() * 2 + 8);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setMinimumHeight(list->sizeHintForRow(0) * LIST_ROWS + 2 * list->frameWidth());
  list->setCurrentRow(0);
  column->addWidget(list, 1);
  auto* count = new QLabel;
  count->setObjectName(QStringLiteral("reportValuesCount"));
  auto* built_in = new QPushButton(QStringLiteral("&Built-in set"));
  built_in->setObjectName(QStringLiteral("reportValuesBuiltIn"));
  built_in->setAutoDefault(false);
  built_in->setToolTip(QStringLiteral("Tick HK00, HK08, HK16 and HK20 only"));
  auto* row = new QHBoxLayout;
  row->addWidget(count, 1);
  row->addWidget(built_in);
  column->addLayout(row);
  auto* keep = new QCheckBox(QStringLiteral("&Keep as default"));
  keep->setObjectName(QStringLiteral("reportValuesKeep"));
  keep->setToolTip(QStringLiteral("Every report, headless ones too, draws these values until chosen otherwise"));
  column->addWidget(keep);
  auto* error = new QLabel(QStringLiteral("Tick at least one value."));
  error->setObjectName(QStringLiteral("reportValuesError"));
  error->setStyleSheet(QStringLiteral("QLabel { color: %1; font-weight: bold; }").arg(text_colours().error.name()));
  error->setVisible(false);
  column->addWidget(error);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Choose the file..."));
  column->addWidget(buttons);

  const auto counted = [=] {
    const size_t n = ticked(list).size();
    count->setText(n == 1 ? QStringLiteral("1 value ticked") : QStringLiteral("%1 values ticked").arg(n));
    buttons->button(QDialogButtonBox::Ok)->setEnabled(n > 0);
    if (n > 0) error->setVisible(false);
  };
  counted();
  QObject::connect(list, &QListWidget::itemChanged, &dialog, counted);
  // Every word typed must appear in the row; hidden rows keep their ticks.
  QObject::connect(filter, &QLineEdit::textChanged, &dialog, [list](const QString& t) {
    const QStringList words = t.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (int i = 0; i < list->count(); ++i) {
      QListWidgetItem* item = list->item(i);
      bool shown = true;
      for (const QString& w : words) shown = shown && item->text().contains(w, Qt::CaseInsensitive);
      item->setHidden(!shown);
    }
  });
  QObject::connect(built_in, &QPushButton::clicked, &dialog, [list] { tick(list, default_report_values()); });
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  list->setFocus();

  // An answerer (a test, a script) may close it with nothing ticked: asked
  // again, the reason shown.
  for (;;) {
    if (!run_dialog(&dialog, true)) return false;
    if (!ticked(list).empty()) break;
    error->setVisible(true);
  }
  *keys = ticked(list);
  if (keep->isChecked()) {
    save_report_values(*keys);
    std::string text = "Report values kept as the default:";
    for (const std::string& key : *keys) text += " " + key;
    log_info(text);
  }
  return true;
}

}  // namespace rt
