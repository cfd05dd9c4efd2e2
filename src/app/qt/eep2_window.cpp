// The EEP2 window, laid out from the window's table: Block C on its two
// pages, Block D with the cell edits and the 101 SOC edits in panels of ten.
#include <QGridLayout>
#include <QHBoxLayout>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/qt/build.h"
#include "app/qt/windows.h"
#include "core/parameters/eep2_table.h"

namespace bms::qt {

using namespace build;

namespace {

const char* kReadHint = "紅色代表讀取Error, 綠色代表讀取OK.";
const char* kWriteHint = "紅色代表寫入Error, 綠色代表寫入OK.";

// The edit of one field: its length limit, and digits only unless the
// field takes any characters (temperatures, the cell type).
QLineEdit* FieldEdit(const Eep2Field& f, int width) {
  QLineEdit* e = Input(f.edit.c_str(), width, f.max_chars);
  e->setAlignment(f.encoding == Eep2Encoding::Text ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
  if (!f.any_chars) e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
  return e;
}

// Fields as rows of (check box, edit, unit), filled column by column.
QWidget* FieldGrid(const std::vector<const Eep2Field*>& fields, int rows_per_column, int edit_width) {
  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(2);
  for (size_t i = 0; i < fields.size(); ++i) {
    const Eep2Field& f = *fields[i];
    const int r = static_cast<int>(i) % rows_per_column;
    const int c = static_cast<int>(i) / rows_per_column * 4;
    grid->addWidget(Check(f.check.c_str()), r, c);
    grid->addWidget(FieldEdit(f, edit_width), r, c + 1);
    grid->addWidget(Text(QString::fromStdString(f.unit)), r, c + 2);
    grid->setColumnMinimumWidth(c + 3, 12);
  }
  grid->setRowStretch(rows_per_column, 1);
  return page;
}

std::vector<const Eep2Field*> OnPage(const std::vector<Eep2Field>& fields, Eep2Page page) {
  std::vector<const Eep2Field*> out;
  for (const Eep2Field& f : fields)
    if (f.page == page) out.push_back(&f);
  return out;
}

QPushButton* HintedButton(const char* name, const char* caption, const char* hint) {
  QPushButton* b = Button(name, 80, caption);
  if (hint) b->setToolTip(QString::fromUtf8(hint));
  return b;
}

}  // namespace

EepParameterWindow::EepParameterWindow(QWidget* parent) : ToolDialog("Form_EEP_PARAMETER", true, parent) {
  auto* v = new QVBoxLayout(this);
  auto* pages = Named(new QTabWidget, "PageControl_EEP_Parameter");

  auto* a = Named(new QWidget, "TabSheet_Block_A");
  pages->addTab(a, QStringLiteral("Block A"));
  pages->setTabVisible(0, false);

  // Block C: P1 the software protections, P2 the hardware protections.
  auto* c = Named(new QWidget, "TabSheet_Block_C");
  auto* cl = new QVBoxLayout(c);
  auto* inner = Named(new QTabWidget, "PageControl_Block_C");
  const auto& block_c = Eep2BlockCFields();
  auto* p1 = FieldGrid(OnPage(block_c, Eep2Page::C1), 19, 64);
  p1->setObjectName(QStringLiteral("TabSheet_Block_B_P1"));
  p1->setProperty(kControlProperty, true);
  inner->addTab(p1, QStringLiteral("P1"));
  auto* p2 = FieldGrid(OnPage(block_c, Eep2Page::C2), 8, 64);
  p2->setObjectName(QStringLiteral("TabSheet_Block_P2"));
  p2->setProperty(kControlProperty, true);
  inner->addTab(p2, QStringLiteral("P2"));
  cl->addWidget(inner, 1);
  cl->addLayout(Row({nullptr, HintedButton("BitBtn_Block_C_Write", "Write", kWriteHint), HintedButton("BitBtn_Block_C_Read", "Read", kReadHint),
                     HintedButton("BitBtn_Block_SAVE_File", "Save File", nullptr), HintedButton("BitBtn_Block_Read_File", "Read File", nullptr)}));
  pages->addTab(c, QStringLiteral("Block C"));

  // Block D: the cell data, then the SOC table in panels of ten.
  auto* d = Named(new QWidget, "TabSheet1_Block_D");
  auto* dl = new QVBoxLayout(d);
  const auto& block_d = Eep2BlockDFields();
  auto* cells = Named(Group(QStringLiteral("Cell Others")), "GroupBox2");
  auto* cells_layout = new QHBoxLayout(cells);
  for (const Eep2Field* f : OnPage(block_d, Eep2Page::DCell)) {
    cells_layout->addWidget(Check(f->check.c_str()));
    cells_layout->addWidget(FieldEdit(*f, f->encoding == Eep2Encoding::Text ? 150 : 64));
  }
  cells_layout->addStretch(1);
  dl->addWidget(cells);

  auto* soc = Named(Group(QStringLiteral("SOC Table : mV")), "GroupBox1");
  auto* soc_grid = new QGridLayout(soc);
  soc_grid->setHorizontalSpacing(4);
  soc_grid->setVerticalSpacing(2);
  const auto soc_fields = OnPage(block_d, Eep2Page::DSoc);
  for (size_t k = 0; k < soc_fields.size(); ++k) {
    const int panel = static_cast<int>(k) / 10;  // 0..9 and 100 alone in the eleventh
    const int row = static_cast<int>(k) % 10;
    soc_grid->addWidget(Check(soc_fields[k]->check.c_str()), row, panel * 2);
    soc_grid->addWidget(FieldEdit(*soc_fields[k], 48), row, panel * 2 + 1);
  }
  soc_grid->addWidget(Button("BitBtn_Read_SOC_File", 60, "SOC"), 2, 21);
  dl->addWidget(soc, 1);
  auto* path = Input("Edit_SOC_File", 0, 0);
  path->setReadOnly(true);
  dl->addLayout(Row({path, HintedButton("BitBtn_Block_D_Write", "Write", kWriteHint), HintedButton("BitBtn_Block_D_Read", "Read", kReadHint)}));
  pages->addTab(d, QStringLiteral("Block D"));

  v->addWidget(pages, 1);
  Compact(this);
  resize(1100, 640);
}

}  // namespace bms::qt
