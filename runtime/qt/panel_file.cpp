#include "runtime/panel_file.h"

#include <QCoreApplication>
#include <QFile>
#include <QXmlStreamReader>

#include <filesystem>
#include <vector>

#include "runtime/panel_layout.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>  // GetModuleFileNameW, for executable_dir()
#endif

#ifndef GSE_DATA_DIR
#define GSE_DATA_DIR "/usr/local/share/vst_gse"
#endif

namespace rt {

namespace {

// The folder of the running program. The event script is checked against
// the panel before the application object exists, so this works without it.
std::string executable_dir() {
  if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath().toStdString();
#ifdef _WIN32
  std::wstring exe(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
    if (n == 0) return std::string();
    if (n < exe.size()) {
      exe.resize(n);
      break;
    }
    exe.resize(exe.size() * 2);  // cut short: a longer path
  }
  return QString::fromStdWString(exe).section(QLatin1Char('\\'), 0, -2).toStdString();
#else
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
#endif
}

}  // namespace

std::string find_panel_file(const std::string& name, std::string* tried) {
  std::vector<std::string> places;
  if (std::filesystem::path(name).is_absolute()) {
    places.push_back(name);
  } else {
    places.push_back(name);
    std::string exe = executable_dir();
    if (!exe.empty()) {
      places.push_back(exe + "/" + name);
      // Installed: bin/vst_gse finds share/vst_gse beside bin, wherever the
      // tree was unpacked.
      places.push_back(exe + "/../share/vst_gse/" + name);
    }
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
  // The panel file is a few hundred kilobytes: a huge one is refused before
  // it is read (it would take memory and time for nothing).
  if (file.isSequential() || file.size() > PANEL_FILE_MAX_BYTES) {
    *error = path + ": " + (file.isSequential() ? std::string("not a regular file")
                                                 : "larger than " + std::to_string(PANEL_FILE_MAX_BYTES) + " bytes");
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
  return layout_from_widgets(done, path, resource, layout, error);
}

}  // namespace rt
