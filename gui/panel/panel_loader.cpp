#include "gui/panel/panel_loader.h"

#include <QFile>
#include <QFontDatabase>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QUiLoader>
#include <QWidget>
#include <qcustomplot.h>

#include <algorithm>

#include "gui/panel/float_input.h"

namespace rt {

namespace {

class PanelLoader : public QUiLoader {
 public:
  using QUiLoader::QUiLoader;
  QWidget* createWidget(const QString& class_name, QWidget* parent,
                        const QString& name) override {
    if (class_name == QLatin1String("QCustomPlot")) {
      auto* plot = new QCustomPlot(parent);
      plot->setObjectName(name);
      return plot;
    }
    if (class_name == QLatin1String("QDoubleSpinBox")) {
      auto* input = new FloatInput(parent);
      input->setObjectName(name);
      return input;
    }
    return QUiLoader::createWidget(class_name, parent, name);
  }
};

const char* widget_class_for(Kind kind) {
  switch (kind) {
    case Kind::Button: return "QPushButton";
    case Kind::IntInput: return "QSpinBox";
    case Kind::FloatInput: return "QDoubleSpinBox";
    case Kind::Switch: return "QCheckBox";
    case Kind::Display: return "QLineEdit";
    case Kind::TextBox: return "QPlainTextEdit";
    case Kind::XYGraph:
    case Kind::StripChart: return "QCustomPlot";
  }
  return "?";
}

}  // namespace

QWidget* load_panel_form(const std::string& uir_path, std::string* error) {
  QFile file(QString::fromStdString(uir_path));
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = uir_path + ": " + file.errorString().toStdString();
    return nullptr;
  }
  PanelLoader loader;
  QWidget* form = loader.load(&file, nullptr);
  if (!form && error) {
    std::string reason = loader.errorString().toStdString();
    if (reason.empty()) reason = "not a readable panel file";
    *error = uir_path + ": " + reason;
  }
  return form;
}

bool find_control_widgets(QWidget* form, const PanelLayout& layout, const std::string& file,
                          std::map<int, QWidget*>* widgets, std::string* error) {
  for (const ControlInfo& c : layout.controls) {
    const QList<QWidget*> found = form->findChildren<QWidget*>(QString::fromStdString(c.name));
    const char* expected = widget_class_for(c.kind);
    std::string reason;
    if (found.isEmpty())
      reason = "no widget named " + c.name;
    else if (found.size() > 1)
      reason = "more than one widget named " + c.name;
    else if (!found.front()->inherits(expected))
      reason = "control " + c.name + " is a " + found.front()->metaObject()->className() +
               ", expected " + expected;
    if (!reason.empty()) {
      if (error) *error = file + ": " + reason;
      return false;
    }
    (*widgets)[c.id] = found.front();
  }
  return true;
}

void prepare_display(QWidget* widget, const ControlInfo& info) {
  if (info.kind == Kind::Display) {
    auto* edit = static_cast<QLineEdit*>(widget);
    edit->setReadOnly(true);
    if (info.type != ValueType::Text) edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  } else if (info.kind == Kind::TextBox) {
    auto* text = static_cast<QPlainTextEdit*>(widget);
    text->setReadOnly(true);
    // Fontconfig's fixed font (Noto Sans Mono on some systems) may not carry
    // the fixed-pitch flag Qt looks for; ask for a monospaced face explicitly
    // so the columns of the dump line up wherever it runs.
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setStyleHint(QFont::Monospace, QFont::PreferMatch);
    mono.setFixedPitch(true);
    mono.setPointSize(std::max(8, text->font().pointSize()));
    text->setFont(mono);
  }
}

}  // namespace rt
