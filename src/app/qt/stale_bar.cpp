#include "app/qt/stale_bar.h"

#include <QEvent>
#include <QGraphicsColorizeEffect>
#include <QLabel>
#include <QPointer>
#include <vector>

#include "app/qt/build.h"

namespace bms::qt {

using namespace build;

namespace {

void CollectWidgets(QLayout* layout, std::vector<QPointer<QWidget>>* out) {
  if (layout == nullptr) return;
  for (int i = 0; i < layout->count(); ++i) {
    QLayoutItem* item = layout->itemAt(i);
    if (QWidget* w = item->widget())
      out->push_back(w);
    else
      CollectWidgets(item->layout(), out);
  }
}

// Follows the label's visibility (set by the binder from the view-model):
// shown, the live widgets are drawn in grey; hidden, as they are.
class StaleShade : public QObject {
 public:
  StaleShade(QLabel* label, QLayout* live) : QObject(label) {
    CollectWidgets(live, &widgets_);
    label->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ShowToParent) shade(true);
    if (event->type() == QEvent::HideToParent) shade(false);
    return QObject::eventFilter(watched, event);
  }

 private:
  void shade(bool on) {
    for (const QPointer<QWidget>& w : widgets_) {
      if (!w) continue;
      if (on) {
        auto* grey = new QGraphicsColorizeEffect(w);
        grey->setColor(QColor(0x80, 0x80, 0x80));
        grey->setStrength(1.0);
        w->setGraphicsEffect(grey);  // the widget owns it from here
      } else {
        w->setGraphicsEffect(nullptr);
      }
      w->setProperty("stale", on);
    }
  }

  std::vector<QPointer<QWidget>> widgets_;
};

}  // namespace

QWidget* BuildLinkStaleBar(QLayout* live) {
  auto* label = NamedLabel("LabelLinkStale");
  label->setStyleSheet(QStringLiteral("color: #a00000; font-weight: bold;"));
  new StaleShade(label, live);
  auto* resume = Button("BitBtnLinkResume", 90);
  auto* row = Row({label, resume, nullptr});
  row->setContentsMargins(0, 0, 0, 0);
  return Wrap(row);
}

}  // namespace bms::qt
