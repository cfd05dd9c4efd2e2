#pragma once
// The port supervisor's row of the main window: LabelLinkStale (the stale
// mark with the time of the last good sample) and BitBtnLinkResume (the
// one-click resume). While the label is shown, the live values are greyed.
#include <QLayout>
#include <QWidget>

namespace bms::qt {

// `live` holds the widgets of the live values.
QWidget* BuildLinkStaleBar(QLayout* live);

}  // namespace bms::qt
