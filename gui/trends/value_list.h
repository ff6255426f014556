// The searchable list of every value the station decodes (history/values.h):
// a field that filters by name, unit or words, and the list, each row a
// value that can be dragged onto a plot or double-clicked to add it to the
// plot last used. GUI thread.
#pragma once

#include <QWidget>

#include <functional>
#include <string>

class QLineEdit;
class QListWidget;

namespace rt {

class PanelModel;

class ValueList : public QWidget {
 public:
  // `model` gives each value its display's unit.
  ValueList(const PanelModel& model, QWidget* parent = nullptr);

  // Double-click (or Enter) on a row.
  std::function<void(const std::string& key)> on_pick;
  QLineEdit* search() const { return search_; }
  QListWidget* list() const { return list_; }

 private:
  void filter(const QString& text);

  QLineEdit* search_;
  QListWidget* list_;
};

}  // namespace rt
