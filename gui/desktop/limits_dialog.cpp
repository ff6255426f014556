#include "gui/desktop/limits_dialog.h"

// Before Qt's headers: Qt's "slots" keyword would mangle its slots().
#include "session/session_summary.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <memory>
#include <cmath>
#include <string>
#include <vector>

#include "gui/desktop/dialogs.h"
#include "gui/theme.h"
#include "present/limits_file.h"
#include "publish/viewer.h"
#include "runtime/model.h"
#include "runtime/user_limits.h"

namespace rt {

namespace {

// The fields of a row, in column order after the slot and its unit.
enum Field { CAUTION_LOW, CAUTION_HIGH, ALARM_LOW, ALARM_HIGH, HYSTERESIS, FIELDS };
const char* const FIELD_NAMES[FIELDS] = {"cautionLow", "cautionHigh", "alarmLow", "alarmHigh", "hysteresis"};
const char* const HEADERS[] = {"Slot", "Unit", "Caution low", "Caution high", "Alarm low",
                               "Alarm high", "Hysteresis", "On"};
constexpr int FIRST_FIELD_COLUMN = 2;
constexpr int ENABLED_COLUMN = FIRST_FIELD_COLUMN + FIELDS;

QString end_text(double v) {
  return std::isfinite(v) ? QString::fromStdString(limit_number_text(v)) : QString();
}

class LimitsDialog : public QDialog {
 public:
  LimitsDialog(QWidget* parent, PanelModel& model) : QDialog(parent), model_(model) {
    setObjectName(QStringLiteral("limitsDialog"));
    setWindowTitle(QStringLiteral("Limits"));
    auto* column = new QVBoxLayout(this);
    auto* intro = new QLabel(QStringLiteral(
        "Caution and alarm ranges in the unit each display shows. An empty end is open; both ends "
        "empty: no range. Hysteresis empty: the default (half a percent of the range). A change "
        "applies at once, when you press Enter or leave the field."));
    intro->setWordWrap(true);
    column->addWidget(intro);
    refused_ = new QLabel;
    refused_->setObjectName(QStringLiteral("limitsRefused"));
    refused_->setWordWrap(true);
    refused_->setStyleSheet(QStringLiteral("QLabel { background: #c00000; color: white; padding: 4px; }"));
    column->addWidget(refused_);
    table_ = new QTableWidget(0, ENABLED_COLUMN + 1);
    table_->setObjectName(QStringLiteral("limitsTable"));
    QStringList headers;
    for (const char* h : HEADERS) headers << QLatin1String(h);
    table_->setHorizontalHeaderLabels(headers);
    table_->verticalHeader()->setVisible(false);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    column->addWidget(table_, 1);
    problem_ = new QLabel;
    problem_->setObjectName(QStringLiteral("limitsProblem"));
    problem_->setWordWrap(true);
    column->addWidget(problem_);
    file_ = new QLabel;
    file_->setObjectName(QStringLiteral("limitsFile"));
    file_->setWordWrap(true);
    file_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(file_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::RestoreDefaults | QDialogButtonBox::Close);
    buttons->button(QDialogButtonBox::RestoreDefaults)->setObjectName(QStringLiteral("restoreDefaults"));
    buttons->button(QDialogButtonBox::RestoreDefaults)->setText(QStringLiteral("&Restore defaults"));
    buttons->button(QDialogButtonBox::RestoreDefaults)->setAutoDefault(false);
    buttons->button(QDialogButtonBox::Close)->setAutoDefault(false);
    connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, this,
            [this] { restore_defaults(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    column->addWidget(buttons);
    resize(780, 600);
    build();
  }

  // Fills the fields from the limits in force.
  void load() {
    slots_ = model_.limit_slots();
    for (size_t r = 0; r < rows_.size(); ++r) {
      Row& row = rows_[r];
      const PanelModel::LimitSlot* s = find(row.id);
      if (!s) continue;
      const Limits& l = s->limits;
      const std::array<QString, FIELDS> texts = {
          l.caution ? end_text(l.caution->low) : QString(), l.caution ? end_text(l.caution->high) : QString(),
          l.alarm ? end_text(l.alarm->low) : QString(),     l.alarm ? end_text(l.alarm->high) : QString(),
          l.hysteresis >= 0.0 ? end_text(l.hysteresis) : QString()};
      for (int f = 0; f < FIELDS; ++f) row.edits[f]->setText(texts[f]);
      {
        const QSignalBlocker block(row.enabled);
        row.enabled->setChecked(l.enabled);
      }
      QTableWidgetItem* label = table_->item(static_cast<int>(r), 0);
      QFont font = label->font();
      font.setBold(!(s->limits == s->defaults));
      label->setFont(font);
      label->setToolTip(QStringLiteral("The panel file's limits: %1%2")
                            .arg(QString::fromStdString(limits_fields(s->defaults)),
                                 font.bold() ? QStringLiteral("\n(changed here: shown in bold)") : QString()));
      mark(row, {});
    }
    const std::string refusal = user_limits_refusal();
    refused_->setVisible(!refusal.empty());
    refused_->setText(QStringLiteral("The limits file was refused at start (%1): the panel file's limits are in "
                                     "force. A change here keeps that file as %2.refused and writes a new one.")
                          .arg(QString::fromStdString(refusal), QString::fromStdString(user_limits_file())));
    if (viewer_active()) {
      // A remote view shows the station's judgement: its limits are set
      // there, never here, and never written to this machine's file.
      read_only();
      return;
    }
    const std::string path = user_limits_file();
    file_->setText(path.empty() ? QStringLiteral("Changes apply to this session only (no limits file).")
                                : QStringLiteral("Limits file: %1").arg(QString::fromStdString(path)));
  }

 private:
  void read_only() {
    for (Row& row : rows_) {
      for (QLineEdit* e : row.edits) e->setReadOnly(true);
      row.enabled->setEnabled(false);
    }
    if (auto* restore = findChild<QPushButton*>(QStringLiteral("restoreDefaults"))) restore->setEnabled(false);
    refused_->setVisible(false);
    file_->setText(QStringLiteral("The station's limits (remote view): read-only here; they are changed at the "
                                  "station. Until the station's limits are heard, this machine's are shown."));
  }

  struct Row {
    int id = 0;
    std::string label;
    std::array<QLineEdit*, FIELDS> edits{};
    QCheckBox* enabled = nullptr;
  };

  // Restore defaults: asks first, naming each slot that would change and
  // how, then says which changed.
  void restore_defaults() {
    QStringList changes, names;
    for (const auto& slot : model_.limit_slots()) {
      if (slot.limits == slot.defaults) continue;
      names << QString::fromStdString(slot.label);
      changes << QStringLiteral("%1: %2  \u2192  %3")
                     .arg(QString::fromStdString(slot.label), QString::fromStdString(limits_fields(slot.limits)),
                          QString::fromStdString(limits_fields(slot.defaults)));
    }
    if (changes.isEmpty()) {
      say(QStringLiteral("Every slot already has the panel file's limits: nothing to restore."), false);
      return;
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Restore default limits"),
                    QStringLiteral("Give %1 slot%2 back the panel file's limits? The limits changed here are lost.")
                        .arg(changes.size())
                        .arg(changes.size() == 1 ? QString() : QStringLiteral("s")),
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("restoreDefaultsQuestion"));
    box.setInformativeText(changes.join(QLatin1Char('\n')));
    QPushButton* restore = box.addButton(QStringLiteral("&Restore"), QMessageBox::AcceptRole);
    QPushButton* keep = box.addButton(QStringLiteral("&Keep my limits"), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    (void)restore;
    // Nobody to ask (an unattended run): the operator's limits stay.
    if (!run_dialog(&box, false)) {
      say(QStringLiteral("Default limits not restored: the limits changed here stay in force."), false);
      return;
    }
    std::string error;
    const bool ok = restore_default_limits(model_, &error);
    load();
    say(ok ? QStringLiteral("Restored the panel file's limits of %1.").arg(names.join(QStringLiteral(", ")))
           : QString::fromStdString(error),
        !ok);
  }

  // In slots_, as load() took them.
  const PanelModel::LimitSlot* find(int id) const {
    for (const auto& s : slots_)
      if (s.id == id) return &s;
    return nullptr;
  }

  void build() {
    // In the panel's order: HK00 to HK35, then slot 36's bytes and slots 37
    // to 39 (HKHI, HKLO, HKRAW), then any other display with limits.
    auto all = model_.limit_slots();
    auto place = [this](const PanelModel::LimitSlot& s) {
      const ControlInfo* c = model_.find(s.id);
      const int hk = c ? housekeeping_index(c->name) : -1;
      return hk >= 0 ? hk : HK_DISPLAYS + s.id;
    };
    std::stable_sort(all.begin(), all.end(),
                     [&](const PanelModel::LimitSlot& a, const PanelModel::LimitSlot& b) { return place(a) < place(b); });
    table_->setRowCount(static_cast<int>(all.size()));
    for (size_t r = 0; r < all.size(); ++r) {
      const auto& s = all[r];
      Row row;
      row.id = s.id;
      row.label = s.label;
      const int tr = static_cast<int>(r);
      table_->setItem(tr, 0, new QTableWidgetItem(QString::fromStdString(s.label)));
      table_->setItem(tr, 1, new QTableWidgetItem(QString::fromStdString(s.format.unit)));
      for (int c = 0; c < 2; ++c) table_->item(tr, c)->setFlags(Qt::ItemIsEnabled);
      for (int f = 0; f < FIELDS; ++f) {
        auto* edit = new QLineEdit;
        edit->setObjectName(QString::fromStdString(s.label) + QLatin1Char('.') + QLatin1String(FIELD_NAMES[f]));
        edit->setFrame(false);
        edit->setPlaceholderText(f == HYSTERESIS ? QStringLiteral("default") : QString());
        table_->setCellWidget(tr, FIRST_FIELD_COLUMN + f, edit);
        row.edits[f] = edit;
        connect(edit, &QLineEdit::textEdited, this, [this, r] { check(rows_[r]); });
        connect(edit, &QLineEdit::editingFinished, this, [this, r] { commit(rows_[r]); });
      }
      row.enabled = new QCheckBox;
      row.enabled->setObjectName(QString::fromStdString(s.label) + QStringLiteral(".enabled"));
      row.enabled->setToolTip(QStringLiteral("Off: the slot is never out of limits"));
      table_->setCellWidget(tr, ENABLED_COLUMN, row.enabled);
      connect(row.enabled, &QCheckBox::toggled, this, [this, r] { commit(rows_[r]); });
      rows_.push_back(row);
    }
    load();
  }

  // The row's fields as limits. False with the reason and the fields at fault.
  bool read(const Row& row, Limits* out, QString* why, std::vector<int>* faulty) {
    double v[FIELDS];
    bool empty[FIELDS];
    for (int f = 0; f < FIELDS; ++f) {
      const std::string t = row.edits[f]->text().trimmed().toStdString();
      empty[f] = t.empty();
      if (!empty[f] && !parse_limit_number(t, &v[f])) {
        faulty->push_back(f);
        *why = QStringLiteral("\"%1\" is not a number").arg(QString::fromStdString(t));
      }
    }
    if (!faulty->empty()) return false;
    Limits l;
    auto range = [&](int low, int high) -> std::optional<LimitRange> {
      if (empty[low] && empty[high]) return std::nullopt;
      LimitRange r;
      if (!empty[low]) r.low = v[low];
      if (!empty[high]) r.high = v[high];
      return r;
    };
    l.caution = range(CAUTION_LOW, CAUTION_HIGH);
    l.alarm = range(ALARM_LOW, ALARM_HIGH);
    l.hysteresis = empty[HYSTERESIS] ? -1.0 : v[HYSTERESIS];
    l.enabled = row.enabled->isChecked();
    std::string reason;
    if (!empty[HYSTERESIS] && v[HYSTERESIS] < 0.0) {
      reason = "the hysteresis must be 0 or more";
    } else if (check_limits(l, &reason)) {
      *out = l;
      return true;
    }
    *why = QString::fromStdString(reason);
    const bool caution = reason.find("caution") != std::string::npos;
    const bool alarm = reason.find("alarm") != std::string::npos;
    if (caution) faulty->insert(faulty->end(), {CAUTION_LOW, CAUTION_HIGH});
    if (alarm) faulty->insert(faulty->end(), {ALARM_LOW, ALARM_HIGH});
    if (reason.find("hysteresis") != std::string::npos) faulty->push_back(HYSTERESIS);
    return false;
  }

  void mark(const Row& row, const std::vector<int>& faulty) {
    const LimitColours c = limit_colours();
    for (int f = 0; f < FIELDS; ++f) {
      const bool bad = std::find(faulty.begin(), faulty.end(), f) != faulty.end();
      row.edits[f]->setStyleSheet(bad ? QStringLiteral("QLineEdit { background: %1; color: %2; }")
                                            .arg(c.alarm_background.name(), c.alarm_text.name())
                                      : QString());
    }
  }

  void say(const QString& text, bool bad) {
    const LimitColours c = limit_colours();  // readable in either theme
    problem_->setText(text);
    problem_->setStyleSheet(bad ? QStringLiteral("QLabel { background: %1; color: %2; font-weight: bold; padding: 2px 6px; }")
                                      .arg(c.alarm_background.name(), c.alarm_text.name())
                                : QString());
  }

  // As typed: the fields at fault and the reason.
  bool check(const Row& row, Limits* limits = nullptr) {
    Limits l;
    QString why;
    std::vector<int> faulty;
    const bool ok = read(row, &l, &why, &faulty);
    mark(row, faulty);
    if (!ok) say(QString::fromStdString(row.label) + QStringLiteral(": ") + why + QStringLiteral(" (not applied)"), true);
    else if (problem_->text().startsWith(QString::fromStdString(row.label) + QStringLiteral(": "))) say({}, false);
    if (ok && limits) *limits = l;
    return ok;
  }

  // Committed: applied when valid and changed.
  void commit(const Row& row) {
    if (viewer_active()) return;  // the station's limits: read-only
    Limits l;
    if (!check(row, &l)) return;
    slots_ = model_.limit_slots();
    const PanelModel::LimitSlot* s = find(row.id);
    if (!s || l == s->limits) return;
    std::string error;
    const bool ok = change_limits(model_, row.id, l, &error);
    load();
    const std::string path = user_limits_file();
    say(ok ? QStringLiteral("%1: %2 in force%3")
                 .arg(QString::fromStdString(row.label), QString::fromStdString(limits_fields(l)),
                      path.empty() ? QString() : QStringLiteral(", written to %1").arg(QString::fromStdString(path)))
           : QString::fromStdString(error),
        !ok);
  }

  PanelModel& model_;
  QTableWidget* table_ = nullptr;
  QLabel* refused_ = nullptr;
  QLabel* problem_ = nullptr;
  QLabel* file_ = nullptr;
  std::vector<Row> rows_;
  std::vector<PanelModel::LimitSlot> slots_;
};

}  // namespace

QAction* add_limits_dialog(QMainWindow* frame, PanelModel& model) {
  auto* action = new QAction(QStringLiteral("L&imits..."), frame);
  action->setObjectName(QStringLiteral("actionEditLimits"));
  action->setToolTip(QStringLiteral("Change the caution and alarm limits of the housekeeping slots"));
  auto dialog = std::make_shared<QPointer<LimitsDialog>>();
  QObject::connect(action, &QAction::triggered, frame, [frame, &model, dialog] {
    if (!*dialog) *dialog = new LimitsDialog(frame, model);
    (*dialog)->load();
    (*dialog)->show();
    (*dialog)->raise();
    (*dialog)->activateWindow();
  });
  return action;
}

}  // namespace rt
