#include "gui/panel/axis_inputs.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QStringList>
#include <QWidget>

#include "present/display_format.h"

namespace rt {

namespace {

// The input's value as the model holds it (an int, or a 32-bit float).
double input_value(QAbstractSpinBox* w) {
  if (auto* spin = qobject_cast<QSpinBox*>(w)) return spin->value();
  return static_cast<double>(static_cast<float>(static_cast<QDoubleSpinBox*>(w)->value()));
}

}  // namespace

AxisInputs::AxisInputs(QWidget* form) {
  for (QAbstractSpinBox* w : form->findChildren<QAbstractSpinBox*>()) {
    const QStringList parts =
        w->property("axisLimit").toString().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 3) continue;
    Input in;
    in.widget = w;
    in.tooltip = w->toolTip();
    in.graph = parts[0].toStdString();
    in.x = parts[1] == QLatin1String("x");
    in.max = parts[2] == QLatin1String("max");
    inputs_.push_back(in);
  }
}

void AxisInputs::show_graph(const std::string& graph, const ControlState& s) {
  for (Input& in : inputs_) {
    if (in.graph != graph) continue;
    const Axis& axis = in.x ? s.x : s.y;
    const double used = in.max ? axis.max : axis.min;
    QString note;
    if (!axis.manual)
      note = QStringLiteral("The graph scales itself to the data now: press Enter to apply this value.");
    else if (used != input_value(in.widget))
      note = QStringLiteral("The graph uses %1.")
                 .arg(QString::fromStdString(format_display_double(used)));
    if (note == in.shown_note) continue;
    in.shown_note = note;
    apply(in);
  }
}

void AxisInputs::restyle() {
  for (Input& in : inputs_) apply(in);
}

// The tooltip and look of `in` for its note: greyed and slanted while the
// graph does not use the value shown (a style sheet: the panel's own sheet
// would override a palette).
void AxisInputs::apply(Input& in) {
  const QString& note = in.shown_note;
  in.widget->setToolTip(note.isEmpty() ? in.tooltip : in.tooltip + QLatin1Char('\n') + note);
  in.widget->setProperty("axisInUse", note.isEmpty());
  in.widget->setStyleSheet(
      note.isEmpty() ? QString()
                     : QStringLiteral("%1 { color: %2; font-style: italic; }")
                           .arg(QLatin1String(in.widget->metaObject()->className()),
                                QApplication::palette().color(QPalette::Disabled, QPalette::Text).name()));
}

}  // namespace rt
