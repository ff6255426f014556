#include "gui/panel/float_input.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

#include "present/display_format.h"

namespace rt {

namespace {

// QDoubleSpinBox rounds every value to its decimals: with all of them, the
// smallest float (about 1.4e-45) survives.
constexpr int ALL_DECIMALS = 323;

// A text the operator may still be typing towards a number: "-", "1e", "2.".
bool could_become_number(const QString& text) {
  static const QString allowed = QStringLiteral("0123456789+-.eE");
  for (QChar c : text)
    if (!allowed.contains(c)) return false;
  return true;
}

}  // namespace

FloatInput::FloatInput(QWidget* parent) : QDoubleSpinBox(parent) {
  setDecimals(ALL_DECIMALS);
  setKeyboardTracking(false);
}

bool FloatInput::read_number(const QString& text, double* value) {
  const std::string s = text.trimmed().toStdString();
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return false;
  // What the control holds is a 32-bit float: a number that becomes 0 or
  // infinity as one is not what the operator meant.
  const float as_float = static_cast<float>(v);
  if (!std::isfinite(as_float) || (v != 0.0 && as_float == 0.0f)) return false;
  *value = v;
  return true;
}

QString FloatInput::textFromValue(double value) const {
  DisplayFormat as_float;
  as_float.style = DisplayFormat::Style::Float32;
  std::string text = format_display_double(value, as_float);
  // "10.0" reads better as "10" in an input.
  if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
  return QString::fromStdString(text);
}

double FloatInput::valueFromText(const QString& text) const {
  double v = value();
  read_number(text, &v);
  return v;
}

QValidator::State FloatInput::validate(QString& text, int& pos) const {
  (void)pos;
  double v = 0.0;
  if (read_number(text, &v)) return v >= minimum() && v <= maximum() ? QValidator::Acceptable
                                                                      : QValidator::Intermediate;
  return could_become_number(text.trimmed()) ? QValidator::Intermediate : QValidator::Invalid;
}

}  // namespace rt
