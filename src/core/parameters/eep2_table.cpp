#include "core/parameters/eep2_table.h"

namespace bms {

int Eep2Field::registers() const {
  switch (encoding) {
    case Eep2Encoding::Text:
      return 8;
    case Eep2Encoding::I32:
    case Eep2Encoding::I32N:
      return 2;
    default:
      return 1;
  }
}

namespace {

using E = Eep2Encoding;

struct Row {
  const char* edit;
  const char* caption;
  const char* unit;
  uint16_t reg;
  Eep2Encoding encoding;
  int max_chars;
  Eep2Page page;
};

// Block C: registers 0x4207..0x427E; 0x4255..0x426F are reserved.
const Row kBlockC[] = {
    {"Edit_Cell_Serial", "Cell Serial", "", 0x4207, E::U16, 4, Eep2Page::C1},
    {"Edit_Cell_Parallel", "Cell Parallel", "", 0x4208, E::U16, 4, Eep2Page::C1},
    {"Edit_OV_Alarm_Thr_mV", "OV Alarm Thr", "mV", 0x4209, E::U16, 4, Eep2Page::C1},
    {"Edit_OV_Alarm_Thr_ms", "OV Alarm Thr", "ms", 0x420A, E::U16, 5, Eep2Page::C1},
    {"Edit_OV_Alarm_Rel_mV", "OV Alarm Rel", "mV", 0x420B, E::U16, 4, Eep2Page::C1},
    {"Edit_OV_Alarm_Rel_ms", "OV Alarm Rel", "ms", 0x420C, E::U16, 5, Eep2Page::C1},
    {"Edit_OV_Protect_Thr_mV", "OV Protect Thr", "mV", 0x420D, E::U16, 4, Eep2Page::C1},
    {"Edit_OV_Protect_Thr_ms", "OV Protect Thr", "ms", 0x420E, E::U16, 5, Eep2Page::C1},
    {"Edit_OV_Protect_Rel_mV", "OV Protect Rel", "mV", 0x420F, E::U16, 4, Eep2Page::C1},
    {"Edit_OV_Protect_Rel_ms", "OV Protect Rel", "ms", 0x4210, E::U16, 5, Eep2Page::C1},
    {"Edit_UV_Alarmt_Thr_mV", "UV Alarm Thr", "mV", 0x4211, E::U16, 4, Eep2Page::C1},
    {"Edit_UV_Alarmt_Thr_ms", "UV Alarm Thr", "ms", 0x4212, E::U16, 5, Eep2Page::C1},
    {"Edit_UV_Alarmt_Rel_mV", "UV Alarm Rel", "mV", 0x4213, E::U16, 4, Eep2Page::C1},
    {"Edit_UV_Alarmt_Rel_ms", "UV Alarm Rel", "ms", 0x4214, E::U16, 5, Eep2Page::C1},
    {"Edit_UV_Protect_Thr_mV", "UV Protect Thr", "mV", 0x4215, E::U16, 4, Eep2Page::C1},
    {"Edit_UV_Protect_Thr_ms", "UV Protect Thr", "ms", 0x4216, E::U16, 5, Eep2Page::C1},
    {"Edit_UV_Protect_Rel_mV", "UV Protect Rel", "mV", 0x4217, E::U16, 4, Eep2Page::C1},
    {"Edit_UV_Protect_Rel_ms", "UV Protect Rel", "ms", 0x4218, E::U16, 5, Eep2Page::C1},
    {"Edit_COC_Alarm_Thr_mV", "COC Alarm Thr", "mA", 0x4219, E::I32, 7, Eep2Page::C1},
    {"Edit_COC_Alarm_Thr_ms", "COC Alarm Thr", "ms", 0x421B, E::U16, 5, Eep2Page::C1},
    {"Edit_COC_Alarm_Rel_mA", "COC Alarm Rel", "mA", 0x421C, E::S16, 7, Eep2Page::C1},
    {"Edit_COC_Alarm_Rel_ms", "COC Alarm Rel", "ms", 0x421D, E::U16, 5, Eep2Page::C1},
    {"Edit_COC_Protect_Thr_mA", "COC Protect Thr", "mA", 0x421E, E::I32, 7, Eep2Page::C1},
    {"Edit_COC_Protect_Thr_ms", "COC Protect Thr", "ms", 0x4220, E::U16, 5, Eep2Page::C1},
    {"Edit_COC_Protect_Rel_mA", "COC_Protect Rel", "mA", 0x4221, E::S16, 7, Eep2Page::C1},
    {"Edit_COC_Protect_Rel_ms", "COC Protect Rel", "ms", 0x4222, E::U16, 5, Eep2Page::C1},
    {"Edit_DOC_Alarm_Thr_mA", "DOC Alarm Thr", "mA", 0x4223, E::I32N, 7, Eep2Page::C1},
    {"Edit_DOC_Alarm_Thr_ms", "DOC Alarm Thr", "ms", 0x4225, E::U16, 5, Eep2Page::C1},
    {"Edit_DOC_Alarm_Rel_mA", "DOC Alarm Rel", "mA", 0x4226, E::S16N, 7, Eep2Page::C1},
    {"Edit_DOC_Alarm_Rel_ms", "DOC Alarm Rel", "ms", 0x4227, E::U16, 5, Eep2Page::C1},
    {"Edit_DOC_Protect_Thr_mA", "DOC Protect Thr", "mA", 0x4228, E::I32N, 7, Eep2Page::C1},
    {"Edit_DOC_Protect_Thr_ms", "DOC Protect Thr", "ms", 0x422A, E::U16, 5, Eep2Page::C1},
    {"Edit_DOC_Protect_Rel_mA", "DOC Protect Rel", "mA", 0x422B, E::S16N, 6, Eep2Page::C1},
    {"Edit_DOC_Protect_Rel_ms", "DOC Protect Rel", "ms", 0x422C, E::U16, 5, Eep2Page::C1},
    {"Edit_COT_Alarm_Thr_Temp", "COT Alarm Thr", "0.1℃", 0x422D, E::S16, 5, Eep2Page::C1},
    {"Edit_COT_Alarm_Thr_ms", "COT Alarm Thr", "ms", 0x422E, E::U16, 5, Eep2Page::C1},
    {"Edit_COT_Alarm_Rel_Temp", "COT Alarm Rel", "0.1℃", 0x422F, E::S16, 5, Eep2Page::C1},
    {"Edit_COT_Alarm_Rel_ms", "COT Alarm Rel", "ms", 0x4230, E::U16, 5, Eep2Page::C1},
    {"Edit_COT_Protect_Thr_Temp", "COT Protect Thr", "0.1℃", 0x4231, E::S16, 5, Eep2Page::C1},
    {"Edit_COT_Protect_Thr_ms", "COT Protect Thr", "ms", 0x4232, E::U16, 5, Eep2Page::C1},
    {"Edit_COT_Protect_Rel_Temp", "COT Protect Rel", "0.1℃", 0x4233, E::S16, 6, Eep2Page::C1},
    {"Edit_COT_Protect_Rel_ms", "COT Protect Rel", "ms", 0x4234, E::U16, 5, Eep2Page::C1},
    {"Edit_CUT_Alarm_Thr_Temp", "CUT Alarm Thr", "0.1℃", 0x4235, E::S16, 5, Eep2Page::C1},
    {"Edit_CUT_Alarm_Thr_ms", "CUT Alarm Thr", "ms", 0x4236, E::U16, 5, Eep2Page::C1},
    {"Edit_CUT_Alarm_Rel_Temp", "CUT Alarm Rel", "0.1℃", 0x4237, E::S16, 5, Eep2Page::C1},
    {"Edit_CUT_Alarm_Rel_ms", "CUT Alarm Rel", "ms", 0x4238, E::U16, 5, Eep2Page::C1},
    {"Edit_CUT_Protect_Thr_Temp", "CUT Protect Thr", "0.1℃", 0x4239, E::S16, 5, Eep2Page::C1},
    {"Edit_CUT_Protect_Thr_ms", "CUT Protet Thr", "ms", 0x423A, E::U16, 5, Eep2Page::C1},
    {"Edit_CUT_Protect_Rel_Temp", "CUT Protect Rel", "0.1℃", 0x423B, E::S16, 5, Eep2Page::C1},
    {"Edit_CUT_Protect_Rel_ms", "CUT Protect Rel", "ms", 0x423C, E::U16, 5, Eep2Page::C1},
    {"Edit_DOT_Alarm_Thr_Temp", "DOT Alarm Thr", "0.1℃", 0x423D, E::S16, 5, Eep2Page::C1},
    {"Edit_DOT_Alarm_Thr_ms", "DOT Alarm Thr", "ms", 0x423E, E::U16, 5, Eep2Page::C1},
    {"Edit_DOT_Alarm_Rel_Temp", "DOT Alarm Rel", "0.1℃", 0x423F, E::S16, 5, Eep2Page::C1},
    {"Edit_DOT_Alarm_Rel_ms", "DOT Alarm Rel", "ms", 0x4240, E::U16, 5, Eep2Page::C1},
    {"Edit_DOT_Protect_Thr_Temp", "DOT Protect Thr", "0.1℃", 0x4241, E::S16, 5, Eep2Page::C1},
    {"Edit_DOT_Protect_Thr_ms", "DOT Protect Thr", "ms", 0x4242, E::U16, 5, Eep2Page::C1},
    {"Edit_DOT_Protect_Rel_Temp", "DOT Protect Rel", "0.1℃", 0x4243, E::S16, 5, Eep2Page::C1},
    {"Edit_DOT_Protect_Rel_ms", "DOT Protect Rel", "ms", 0x4244, E::U16, 5, Eep2Page::C1},
    {"Edit_DUT_Alarm_Thr_Temp", "DUT Alarm Thr", "0.1℃", 0x4245, E::S16, 5, Eep2Page::C1},
    {"Edit_DUT_Alarm_Thr_ms", "DUT Alarm Thr", "ms", 0x4246, E::U16, 5, Eep2Page::C1},
    {"Edit_DUT_Alarm_Rel_Temp", "DUT Alarm Rel", "0.1℃", 0x4247, E::S16, 5, Eep2Page::C1},
    {"Edit_DUT_Alarm_Rel_ms", "DUT Alarm Rel", "ms", 0x4248, E::U16, 5, Eep2Page::C1},
    {"Edit_DUT_Ptotect_Thr_Temp", "DUT Ptotect Thr", "0.1℃", 0x4249, E::S16, 5, Eep2Page::C1},
    {"Edit_DUT_Ptotect_Thr_ms", "DUT Ptotect Thr", "ms", 0x424A, E::U16, 5, Eep2Page::C1},
    {"Edit_DUT_Ptotect_Rel_Temp", "DUT Protect Rel", "0.1℃", 0x424B, E::S16, 5, Eep2Page::C1},
    {"Edit_DUT_Ptotect_Rel_ms", "DUT Protect Rel", "ms", 0x424C, E::U16, 5, Eep2Page::C1},
    {"Edit_MOS_OT_Alarm_Thr_Temp", "MOS OT Alarm Thr", "0.1℃", 0x424D, E::S16, 5, Eep2Page::C1},
    {"Edit_MOS_OT_Alarm_Thr_ms", "MOS OT Alarm Thr", "ms", 0x424E, E::U16, 5, Eep2Page::C1},
    {"Edit_MOS_OT_Alarm_Rel_Temp", "MOS OT Alarm Rel", "0.1℃", 0x424F, E::S16, 5, Eep2Page::C1},
    {"Edit_MOS_OT_Alarm_Rel_ms", "MOS OT Alarm Rel", "ms", 0x4250, E::U16, 5, Eep2Page::C1},
    {"Edit_MOS_OT_Protect_Thr_Temp", "MOS OT Prote Thr", "0.1℃", 0x4251, E::S16, 5, Eep2Page::C1},
    {"Edit_MOS_OT_Protect_Thr_ms", "MOS OT Prote Thr", "ms", 0x4252, E::U16, 5, Eep2Page::C1},
    {"Edit_MOS_OT_Protect_Rel_Temp", "MOS OT Prote Rel", "0.1℃", 0x4253, E::S16, 5, Eep2Page::C1},
    {"Edit_MOS_OT_Protect_Rel_ms", "MOS OT Prote Rel", "ms", 0x4254, E::U16, 5, Eep2Page::C1},
    {"Edit_Rsensor_uOhm", "Rsensor", "uΩ", 0x4270, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_OV_Protect_Thr_mV", "HW OV Protect Thr", "mV", 0x4271, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_OV_Protect_Rel_mV", "HW OV Protect Rel", "mV", 0x4272, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_OV_Delay_sec", "HW OV Delay", "ms", 0x4273, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_UV_Ptotect_Thr_mV", "HW UV Ptotect Thr", "mV", 0x4274, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_UV_Ptotect_Rel_mV", "HW UV Ptotect Rel", "mV", 0x4275, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_UV_Delay_sec", "HW UV Delay", "ms", 0x4276, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_COC_Protect_Thr_A", "HW COC Protect Thr", "A", 0x4277, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_COC_Delay_ms", "HW COC Delay", "ms", 0x4278, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_COC_Release_ms", "HW COC Release", "ms", 0x4279, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_DOC_Protect_Thr_A", "HW DOC Protect Thr", "A", 0x427A, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_DOC_Delay_ms", "HW DOC Delay", "ms", 0x427B, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_DOC_Release_ms", "HW DOC Release", "ms", 0x427C, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_SC_Protect_Thr_A", "HW SC Protect Thr", "A", 0x427D, E::U16, 5, Eep2Page::C2},
    {"Edit_HW_SC_Delay_us", "HW SC Delay", "us", 0x427E, E::U16, 5, Eep2Page::C2},
};

Eep2Field Make(const Row& r) {
  Eep2Field f;
  f.edit = r.edit;
  f.key = f.edit.substr(5);  // without "Edit_"
  f.check = "CheckBox_" + f.key;
  f.caption = r.caption;
  f.unit = r.unit;
  f.reg = r.reg;
  f.encoding = r.encoding;
  f.max_chars = r.max_chars;
  f.page = r.page;
  f.any_chars = f.unit == "0.1℃" || r.encoding == E::Text;
  return f;
}

std::vector<Eep2Field> BuildBlockC() {
  std::vector<Eep2Field> out;
  for (const Row& r : kBlockC) out.push_back(Make(r));
  return out;
}

std::vector<Eep2Field> BuildBlockD() {
  const Row cells[] = {
      {"Edit_Cell_Type", "Cell Type", "", 0x4307, E::Text, 16, Eep2Page::DCell},
      {"Edit_Cell_Rated_Capacity", "Cell Rated Capacity", "", 0x430F, E::U16, 8, Eep2Page::DCell},
      {"Edit_Cell_Design_Voltage", "Cell Design Voltage", "", 0x4310, E::U16, 8, Eep2Page::DCell},
      {"Edit_CycleLife_Count", "Cycle Life Count", "", 0x4311, E::U16, 8, Eep2Page::DCell},
      {"Edit_CycleLife_Percent", "Cycle Life Percent", "", 0x4312, E::U16, 8, Eep2Page::DCell},
  };
  std::vector<Eep2Field> out;
  for (const Row& r : cells) out.push_back(Make(r));
  // 0x4313..0x4319 are reserved; the SOC table follows, 0 % first.
  for (int k = 0; k < kSocPoints; ++k) {
    const std::string name = "Edit_SOC_" + std::to_string(k);
    const std::string caption = std::to_string(k) + "%";
    Eep2Field f = Make(Row{name.c_str(), caption.c_str(), "mV", static_cast<uint16_t>(0x431A + k), E::U16, 5, Eep2Page::DSoc});
    out.push_back(std::move(f));
  }
  return out;
}

}  // namespace

const std::vector<Eep2Field>& Eep2BlockCFields() {
  static const std::vector<Eep2Field> fields = BuildBlockC();
  return fields;
}

const std::vector<Eep2Field>& Eep2BlockDFields() {
  static const std::vector<Eep2Field> fields = BuildBlockD();
  return fields;
}

const std::vector<std::string>& Eep2CheckedEdits(bool block_d) {
  static const std::vector<std::string> c = {"Edit_Cell_Serial",     "Edit_Cell_Parallel",   "Edit_OV_Alarm_Thr_mV",   "Edit_OV_Alarm_Thr_ms",
                                             "Edit_OV_Alarm_Rel_mV", "Edit_OV_Alarm_Rel_ms", "Edit_OV_Protect_Thr_mV", "Edit_OV_Protect_Thr_ms"};
  static const std::vector<std::string> d = {
      "Edit_Cell_Type", "Edit_Cell_Rated_Capacity", "Edit_Cell_Design_Voltage", "Edit_CycleLife_Count", "Edit_CycleLife_Percent", "Edit_SOC_0", "Edit_SOC_10", "Edit_SOC_100"};
  return block_d ? d : c;
}

}  // namespace bms
