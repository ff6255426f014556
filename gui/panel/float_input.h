// The panel's float inputs (y min, y max): a QDoubleSpinBox that takes a
// number in any C form, "0.001" as well as "1e-30", over the whole range of
// a 32-bit float down to its smallest positive value, and shows what it holds
// as that float's shortest decimal form. The panel file declares them as
// QDoubleSpinBox; the window's loader makes this class instead. Give them no
// `decimals` property in the panel file: this class needs every decimal a
// double has. GUI thread only.
#pragma once

#include <QDoubleSpinBox>

namespace rt {

class FloatInput : public QDoubleSpinBox {
 public:
  explicit FloatInput(QWidget* parent = nullptr);

  // The text is read as a C number; it is acceptable when the whole text is
  // one, within the range, and not rounded to 0 or infinity as a float.
  static bool read_number(const QString& text, double* value);

 protected:
  QString textFromValue(double value) const override;
  double valueFromText(const QString& text) const override;
  QValidator::State validate(QString& text, int& pos) const override;
};

}  // namespace rt
