#include "gui/trends/display_drag.h"

#include <QApplication>
#include <QDrag>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>

#include "gui/trends/trend_plot.h"
#include "history/values.h"
#include "runtime/model.h"

namespace rt {

namespace {

const char* const KEYS_PROPERTY = "trendKeys";

}  // namespace

DisplayDrag::DisplayDrag(QWidget* form, const PanelModel& model) : QObject(form) {
  for (QLineEdit* edit : form->findChildren<QLineEdit*>()) {
    const ControlInfo* c = model.find(edit->objectName().toStdString());
    if (!c || c->kind != Kind::Display) continue;
    QStringList keys;
    for (const ValueInfo* v : values_of_control(c->name)) keys << QString::fromStdString(v->key);
    if (keys.isEmpty()) continue;
    edit->setProperty(KEYS_PROPERTY, keys.join(QLatin1Char('\n')));
    edit->installEventFilter(this);
  }
}

bool DisplayDrag::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    auto* e = static_cast<QMouseEvent*>(event);
    if (e->button() == Qt::LeftButton) {
      pressed_ = watched;
      pressed_at_ = e->position().toPoint();
    }
  } else if (event->type() == QEvent::MouseButtonRelease) {
    pressed_ = nullptr;
  } else if (event->type() == QEvent::MouseMove && pressed_ == watched) {
    auto* e = static_cast<QMouseEvent*>(event);
    if ((e->buttons() & Qt::LeftButton) &&
        (e->position().toPoint() - pressed_at_).manhattanLength() >= QApplication::startDragDistance()) {
      pressed_ = nullptr;
      auto* widget = static_cast<QWidget*>(watched);
      auto* data = new QMimeData;
      data->setData(QLatin1String(TREND_MIME), widget->property(KEYS_PROPERTY).toString().toUtf8());
      auto* drag = new QDrag(widget);
      drag->setMimeData(data);
      drag->setPixmap(widget->grab());
      drag->exec(Qt::CopyAction);
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace rt
