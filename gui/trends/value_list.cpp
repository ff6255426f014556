#include "gui/trends/value_list.h"

#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QVBoxLayout>

#include "gui/trends/trend_plot.h"
#include "history/values.h"
#include "runtime/model.h"

namespace rt {

namespace {

constexpr int KEY_ROLE = Qt::UserRole;

// The list, giving dragged rows as value keys.
class KeyList : public QListWidget {
 protected:
  QStringList mimeTypes() const override { return {QLatin1String(TREND_MIME)}; }
  QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override {
    QStringList keys;
    for (const QListWidgetItem* item : items) keys << item->data(KEY_ROLE).toString();
    auto* data = new QMimeData;
    data->setData(QLatin1String(TREND_MIME), keys.join(QLatin1Char('\n')).toUtf8());
    return data;
  }
};

}  // namespace

ValueList::ValueList(const PanelModel& model, QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("trendValueList"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  search_ = new QLineEdit;
  search_->setObjectName(QStringLiteral("trendSearch"));
  search_->setPlaceholderText(QStringLiteral("Find a value: HK16, temperature, mA..."));
  search_->setClearButtonEnabled(true);
  list_ = new KeyList;
  list_->setObjectName(QStringLiteral("trendValues"));
  list_->setDragEnabled(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setToolTip(QStringLiteral("Drag a value onto a plot, or double-click it"));
  for (const ValueInfo& v : value_catalogue()) {
    QString unit = QString::fromStdString(v.unit);
    if (const ControlInfo* c = model.find(v.control); c && !c->format.unit.empty())
      unit = QString::fromStdString(c->format.unit);
    QString text = QString::fromStdString(v.key) + QStringLiteral("  ") + QString::fromStdString(v.what);
    if (!unit.isEmpty()) text += QStringLiteral(" [") + unit + QLatin1Char(']');
    auto* item = new QListWidgetItem(text, list_);
    item->setData(KEY_ROLE, QString::fromStdString(v.key));
  }
  column->addWidget(search_);
  column->addWidget(list_, 1);
  connect(search_, &QLineEdit::textChanged, this, [this](const QString& t) { filter(t); });
  connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    if (on_pick) on_pick(item->data(KEY_ROLE).toString().toStdString());
  });
}

// Every word typed must appear in the row.
void ValueList::filter(const QString& text) {
  const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  for (int i = 0; i < list_->count(); ++i) {
    QListWidgetItem* item = list_->item(i);
    bool shown = true;
    for (const QString& w : words) shown = shown && item->text().contains(w, Qt::CaseInsensitive);
    item->setHidden(!shown);
  }
}

}  // namespace rt
