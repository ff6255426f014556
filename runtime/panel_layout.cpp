#include "runtime/panel_layout.h"

#include <cmath>
#include <cstdlib>
#include <set>
#include <utility>

namespace rt {

namespace {

// Messages quote at most this much of a value: a hostile file's megabytes
// stay out of them.
constexpr size_t QUOTE_MAX = 40;
std::string quoted(const std::string& text) {
  if (text.size() <= QUOTE_MAX) return "\"" + text + "\"";
  return "\"" + text.substr(0, QUOTE_MAX) + "\"... (" + std::to_string(text.size()) + " bytes)";
}
// The same for a whole message (the display-format readers quote on their own).
constexpr size_t MESSAGE_MAX = 300;
std::string clipped(std::string text) {
  if (text.size() > MESSAGE_MAX) text = text.substr(0, MESSAGE_MAX) + "...";
  return text;
}

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
        *why = "a QLineEdit display needs valueType int, double or text (has " + quoted(vt) + ")";
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
        *why = "a QCustomPlot needs chart xy or strip (has " + quoted(chart) + ")";
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
      *why = "unitScale " + quoted(*scale) + " is not a non-zero number";
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
      *why = "hysteresis " + quoted(*h) + " is not a number 0 or above";
      return false;
    }
    c->limits.hysteresis = v;
  }
  return true;
}

// An operator control's start value ("value", or "checked" for a switch),
// held to what the control can hold, as every other property is.
bool read_start_value(const std::string& text, const ControlInfo& c, double* out, std::string* why) {
  if (c.kind == Kind::Switch) {
    if (text != "true" && text != "false") {
      *why = "checked " + quoted(text) + " is neither true nor false";
      return false;
    }
    *out = text == "true" ? 1.0 : 0.0;
    return true;
  }
  if (c.kind == Kind::IntInput) {
    int v = 0;
    if (!parse_int(text, &v)) {
      *why = "start value " + quoted(text) + " is not a 32-bit integer";
      return false;
    }
    *out = v;
    return true;
  }
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(v) || !std::isfinite(static_cast<float>(v))) {
    *why = "start value " + quoted(text) + " is not a finite number a float can hold";
    return false;
  }
  *out = v;
  return true;
}

}  // namespace

bool layout_from_widgets(const std::vector<WidgetRecord>& done, const std::string& path,
                         int resource, PanelLayout* layout, std::string* error) {
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
      *error = clipped(path + ": control " + c.name + " has an invalid ctrlId " + quoted(id_prop->second));
      return false;
    }
    std::string why;
    if (!classify(*w, &c, &why) ||
        (c.kind == Kind::Display && c.type != ValueType::Text && !read_display_properties(*w, &c, &why))) {
      *error = clipped(path + ": control " + c.name + " (id " + std::to_string(c.id) + "): " + why);
      return false;
    }
    // Starting values of the operator's controls.
    auto value = w->props.find(c.kind == Kind::Switch ? "checked" : "value");
    if ((c.kind == Kind::IntInput || c.kind == Kind::FloatInput || c.kind == Kind::Switch) &&
        value != w->props.end()) {
      if (!read_start_value(value->second, c, &c.initial, &why)) {
        *error = clipped(path + ": control " + c.name + " (id " + std::to_string(c.id) + "): " + why);
        return false;
      }
      c.has_initial = true;
    }
    if (!ids.insert(c.id).second) {
      *error = clipped(path + ": duplicate control identifier " + std::to_string(c.id) + " (" + c.name + ")");
      return false;
    }
    if (!names.insert(c.name).second) {
      *error = clipped(path + ": duplicate control name " + c.name);
      return false;
    }
    out.controls.push_back(std::move(c));
  }
  *layout = std::move(out);
  return true;
}

}  // namespace rt
