#include "gui/panel/stale_marker.h"

#include <QEvent>
#include <QLabel>
#include <QWidget>

#include <cmath>
#include <utility>

#include "gui/panel/display_look.h"
#include "session/link_health.h"

namespace rt {

StaleMarker::StaleMarker(std::vector<QWidget*> displays, std::vector<QWidget*> plots)
    : displays_(std::move(displays)) {
  for (QWidget* plot : plots) {
    auto* overlay = new QLabel(plot);
    overlay->setObjectName(QStringLiteral("staleOverlay"));
    overlay->setAlignment(Qt::AlignCenter);
    overlay->setWordWrap(true);
    overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    overlay->setStyleSheet(QStringLiteral(
        "QLabel { background: rgba(235, 235, 235, 175); color: #5a5a5a; font-weight: bold; }"));
    overlay->setGeometry(plot->rect());
    overlay->hide();
    plot->installEventFilter(this);
    overlays_.push_back(overlay);
  }
}

bool StaleMarker::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize) {
    for (QLabel* overlay : overlays_)
      if (overlay->parent() == watched) overlay->setGeometry(static_cast<QWidget*>(watched)->rect());
  }
  return QObject::eventFilter(watched, event);
}

void StaleMarker::draw(bool stale, double age_s) {
  if (stale != stale_) {
    stale_ = stale;
    // The grey goes with the limit colours a display may have
    // (display_look.h): the panel's style sheet colours its displays, so
    // it is a style sheet of the display's own, set only at a change.
    for (QWidget* display : displays_) show_stale(display, stale);
    for (QLabel* overlay : overlays_) overlay->setVisible(stale);
    shown_age_s_ = -1;
  }
  if (!stale) return;
  const long long age = age_s < 0.0 ? 0 : static_cast<long long>(std::floor(age_s));
  if (age == shown_age_s_) return;
  shown_age_s_ = age;
  // In the same words as the health bar's reason and age.
  const QString text = QStringLiteral("STALE: no good frame for %1").arg(QString::fromStdString(duration_words(age)));
  for (QLabel* overlay : overlays_) overlay->setText(text);
}

}  // namespace rt
