#pragma once
// Helpers that build the widgets of the windows in code. A widget that shows
// a control gets the control's name as objectName (the binder finds it by
// that name) and is marked as a control widget; plain captions and units
// are static labels the model does not know.
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QString>
#include <QWidget>
#include <initializer_list>

#include "app/qt/widgets.h"

namespace bms::qt::build {

// Property set on every widget that stands for a control of the model.
inline constexpr const char* kControlProperty = "bmsControl";

template <typename W>
W* Named(W* w, const char* name) {
  w->setObjectName(QString::fromLatin1(name));
  w->setProperty(kControlProperty, true);
  return w;
}

enum class EditRole { Display, Input };

// A one-line edit; displays are read-only and take no keyboard focus.
inline QLineEdit* Edit(const char* name, int width = 0, EditRole role = EditRole::Display, Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter) {
  auto* e = Named(new QLineEdit, name);
  if (role == EditRole::Display) {
    e->setReadOnly(true);
    e->setFocusPolicy(Qt::NoFocus);
  }
  e->setAlignment(align);
  if (width > 0) e->setFixedWidth(width);
  return e;
}

inline QLineEdit* Input(const char* name, int width = 0, int max_length = 0) {
  QLineEdit* e = Edit(name, width, EditRole::Input, Qt::AlignLeft | Qt::AlignVCenter);
  if (max_length > 0) e->setMaxLength(max_length);
  return e;
}

// `design` is the caption shown until the view-model gives its own.
inline QPushButton* Button(const char* name, int min_width = 70, const char* design = nullptr) {
  auto* b = Named(new QPushButton, name);
  if (design) b->setText(QString::fromUtf8(design));
  b->setMinimumWidth(min_width);
  b->setAutoDefault(false);
  return b;
}

inline QCheckBox* Check(const char* name) { return Named(new QCheckBox, name); }

inline QLabel* NamedLabel(const char* name) {
  auto* l = Named(new QLabel, name);
  l->setTextFormat(Qt::PlainText);
  return l;
}

// A static caption or unit.
inline QLabel* Text(const QString& text, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
  auto* l = new QLabel(text);
  l->setTextFormat(Qt::PlainText);
  l->setAlignment(align);
  return l;
}

inline QGroupBox* Group(const QString& title) { return new QGroupBox(title); }

inline QGroupBox* NamedGroup(const char* name) { return Named(new QGroupBox, name); }

inline BarGauge* Gauge(const char* name, Qt::Orientation o) { return Named(new BarGauge(o), name); }

inline Lamp* LampOf(const char* name, int diameter, const QString& hint) {
  auto* l = Named(new Lamp(diameter), name);
  l->setToolTip(hint);
  return l;
}

inline QProgressBar* Progress(const char* name) {
  auto* p = Named(new QProgressBar, name);
  p->setTextVisible(false);
  p->setFixedHeight(16);
  return p;
}

inline QPlainTextEdit* Memo(const char* name) {
  auto* m = Named(new QPlainTextEdit, name);
  m->setReadOnly(true);
  m->setLineWrapMode(QPlainTextEdit::NoWrap);
  return m;
}

inline QComboBox* Combo(const char* name, int min_width = 0) {
  auto* c = Named(new QComboBox, name);
  if (min_width > 0) c->setMinimumWidth(min_width);
  return c;
}

// A horizontal row of widgets (nullptr = stretch).
inline QHBoxLayout* Row(std::initializer_list<QWidget*> widgets, int spacing = 6) {
  auto* l = new QHBoxLayout;
  l->setSpacing(spacing);
  for (QWidget* w : widgets) {
    if (w)
      l->addWidget(w);
    else
      l->addStretch(1);
  }
  return l;
}

// Tightens the layouts inside every group of a window: the groups carry
// their captions on the frame, so little room is needed around the contents.
inline void Compact(QWidget* root) {
  for (QGroupBox* g : root->findChildren<QGroupBox*>()) {
    if (QLayout* l = g->layout()) {
      l->setContentsMargins(7, 4, 7, 5);
      l->setSpacing(5);
    }
  }
}

inline QWidget* Wrap(QLayout* layout) {
  auto* w = new QWidget;
  layout->setContentsMargins(0, 0, 0, 0);
  w->setLayout(layout);
  return w;
}

}  // namespace bms::qt::build
