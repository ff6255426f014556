#include "runtime/panel_file.h"

#include <QCoreApplication>
#include <QFile>
#include <QXmlStreamReader>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <utility>
#include <vector>

#ifndef GSE_DATA_DIR
#define GSE_DATA_DIR "/usr/local/share/vst_gse"
#endif

namespace rt {

namespace {

std::string executable_dir() {
  if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath().toStdString();
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

// One <widget> element while it is being read.
struct WidgetRecord {
  std::string cls, name;
  std::map<std::string, std::string> props;  // property name -> value text
};

struct ClassRule {
  const char* cls;
  Kind kind;
  ValueType type;
};

constexpr ClassRule CLASS_RULES[] = {
    {"QPushButton", Kind::Button, ValueType::None},
    {"QSpinBox", Kind::IntInput, ValueType::Int},
    {"QDoubleSpinBox", Kind::FloatInput, ValueType::Float},
    {"QCheckBox", Kind::Switch, ValueType::Int},
    {"QLineEdit", Kind::Display, ValueType::None},  // type from valueType
    {"QPlainTextEdit", Kind::TextBox, ValueType::Text},
    {"QCustomPlot", Kind::XYGraph, ValueType::Points},  // kind from chart
};

// Fills kind and type from the widget's class and properties, or says why not.
bool classify(const WidgetRecord& w, ControlInfo* c, std::string* why) {
  for (const auto& rule : CLASS_RULES) {
    if (w.cls != rule.cls) continue;
    c->kind = rule.kind;
    c->type = rule.type;
    if (c->kind == Kind::Display) {
      auto it = w.props.find("valueType");
      std::string vt = it == w.props.end() ? "" : it->second;
      if (vt == "int") c->type = ValueType::Int;
      else if (vt == "double") c->type = ValueType::Double;
      else if (vt == "text") c->type = ValueType::Text;
      else {
        *why = "a QLineEdit display needs valueType int, double or text (has \"" + vt + "\")";
        return false;
      }
    } else if (w.cls == "QCustomPlot") {
      auto it = w.props.find("chart");
      std::string chart = it == w.props.end() ? "" : it->second;
      if (chart == "xy") {
        c->kind = Kind::XYGraph;
        c->type = ValueType::Points;
      } else if (chart == "strip") {
        c->kind = Kind::StripChart;
        c->type = ValueType::U16;
      } else {
        *why = "a QCustomPlot needs chart xy or strip (has \"" + chart + "\")";
        return false;
      }
    }
    return true;
  }
  *why = "class " + w.cls + " is not a control class of the panel";
  return false;
}

bool parse_int(const std::string& text, int* out) {
  try {
    size_t used = 0;
    long v = std::stol(text, &used);
    if (used != text.size() || v < -2147483648L || v > 2147483647L) return false;
    *out = static_cast<int>(v);
    return true;
  } catch (...) {
    return false;
  }
}

// A numeric display's format and limits, from its properties. False with
// *why naming the property at fault.
bool read_display_properties(const WidgetRecord& w, ControlInfo* c, std::string* why) {
  auto prop = [&w](const char* name) -> const std::string* {
    auto it = w.props.find(name);
    return it == w.props.end() ? nullptr : &it->second;
  };
  if (const std::string* f = prop("format"); f && !parse_display_format(*f, &c->format, why))
    return false;
  if (const std::string* u = prop("unit")) c->format.unit = *u;
  if (const std::string* scale = prop("unitScale")) {
    char* end = nullptr;
    const double v = std::strtod(scale->c_str(), &end);
    if (scale->empty() || *end != '\0' || !std::isfinite(v) || v == 0.0) {
      *why = "unitScale \"" + *scale + "\" is not a non-zero number";
      return false;
    }
    c->format.scale = v;
  }
  for (auto [name, range] : {std::pair{"caution", &c->limits.caution}, std::pair{"alarm", &c->limits.alarm}}) {
    const std::string* text = prop(name);
    if (!text) continue;
    LimitRange r;
    if (!parse_limit_range(*text, &r, why)) {
      *why = std::string(name) + ": " + *why;
      return false;
    }
    *range = r;
  }
  if (const std::string* h = prop("hysteresis")) {
    char* end = nullptr;
    const double v = std::strtod(h->c_str(), &end);
    if (h->empty() || *end != '\0' || !std::isfinite(v) || v < 0.0) {
      *why = "hysteresis \"" + *h + "\" is not a number 0 or above";
      return false;
    }
    c->limits.hysteresis = v;
  }
  return true;
}

}  // namespace

std::string find_panel_file(const std::string& name, std::string* tried) {
  std::vector<std::string> places;
  if (std::filesystem::path(name).is_absolute()) {
    places.push_back(name);
  } else {
    places.push_back(name);
    std::string exe = executable_dir();
    if (!exe.empty()) places.push_back(exe + "/" + name);
    places.push_back(std::string(GSE_DATA_DIR) + "/" + name);
  }
  std::string list;
  for (const auto& p : places) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(p, ec)) return p;
    list += (list.empty() ? "" : ", ") + p;
  }
  if (tried) *tried = list;
  return "";
}

bool read_panel_file(const std::string& path, int resource, PanelLayout* layout,
                     std::string* error) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) {
    *error = path + ": " + file.errorString().toStdString();
    return false;
  }
  QXmlStreamReader xml(&file);
  std::vector<WidgetRecord> stack;
  std::vector<WidgetRecord> done;  // closed widgets, top-level last
  std::string prop_name;           // property being read, of stack.back()
  int prop_depth = -1;             // element depth of that <property>
  int depth = 0;
  std::string prop_text;

  while (!xml.atEnd()) {
    auto token = xml.readNext();
    if (token == QXmlStreamReader::StartElement) {
      ++depth;
      auto tag = xml.name();
      if (tag == u"widget") {
        WidgetRecord w;
        w.cls = xml.attributes().value("class").toString().toStdString();
        w.name = xml.attributes().value("name").toString().toStdString();
        stack.push_back(std::move(w));
        prop_name.clear();
      } else if (tag == u"property" && !stack.empty() && prop_name.empty()) {
        prop_name = xml.attributes().value("name").toString().toStdString();
        prop_depth = depth;
        prop_text.clear();
      }
    } else if (token == QXmlStreamReader::Characters) {
      if (!prop_name.empty()) prop_text += xml.text().toString().trimmed().toStdString();
    } else if (token == QXmlStreamReader::EndElement) {
      auto tag = xml.name();
      if (tag == u"property" && depth == prop_depth && !prop_name.empty()) {
        stack.back().props[prop_name] = prop_text;
        prop_name.clear();
        prop_depth = -1;
      } else if (tag == u"widget" && !stack.empty()) {
        done.push_back(std::move(stack.back()));
        stack.pop_back();
      }
      --depth;
    }
  }
  if (xml.hasError()) {
    *error = path + ": malformed panel file: " + xml.errorString().toStdString() +
             " at line " + std::to_string(xml.lineNumber());
    return false;
  }
  if (done.empty()) {
    *error = path + ": malformed panel file: no top-level widget";
    return false;
  }

  const WidgetRecord& top = done.back();
  int top_resource = 0;
  auto res = top.props.find("panelResource");
  if (res == top.props.end() || !parse_int(res->second, &top_resource) ||
      top_resource != resource) {
    *error = path + ": has no panel resource " + std::to_string(resource);
    return false;
  }

  PanelLayout out;
  out.file = path;
  out.resource = resource;
  if (auto t = top.props.find("windowTitle"); t != top.props.end()) out.title = t->second;
  std::set<int> ids;
  std::set<std::string> names;
  // Widgets close children first, so leaf controls come in file order.
  for (const WidgetRecord* w = done.data(); w != done.data() + done.size(); ++w) {
    auto id_prop = w->props.find("ctrlId");
    if (id_prop == w->props.end()) continue;
    ControlInfo c;
    c.name = w->name;
    c.widget_class = w->cls;
    if (!parse_int(id_prop->second, &c.id) || c.id <= 0) {
      *error = path + ": control " + c.name + " has an invalid ctrlId \"" + id_prop->second + "\"";
      return false;
    }
    std::string why;
    if (!classify(*w, &c, &why) ||
        (c.kind == Kind::Display && c.type != ValueType::Text && !read_display_properties(*w, &c, &why))) {
      *error = path + ": control " + c.name + " (id " + std::to_string(c.id) + "): " + why;
      return false;
    }
    // Starting values of the operator's controls.
    auto value = w->props.find(c.kind == Kind::Switch ? "checked" : "value");
    if ((c.kind == Kind::IntInput || c.kind == Kind::FloatInput || c.kind == Kind::Switch) &&
        value != w->props.end()) {
      c.has_initial = true;
      c.initial = value->second == "true" ? 1.0 : std::strtod(value->second.c_str(), nullptr);
    }
    if (!ids.insert(c.id).second) {
      *error = path + ": duplicate control identifier " + std::to_string(c.id) + " (" + c.name + ")";
      return false;
    }
    if (!names.insert(c.name).second) {
      *error = path + ": duplicate control name " + c.name;
      return false;
    }
    out.controls.push_back(std::move(c));
  }
  *layout = std::move(out);
  return true;
}

}  // namespace rt
