#include "devlink/config_settings.h"

#include <cstddef>

#include "devlink/registers.h"

namespace k5 {

void ConfigSettings::FillDefaults() {
    pmax = 500;
    pc = 250;
    ip = 36;
    calcPmax = 0;
    calcPc = 0;
    calcIp = 0;
    pref = 900;
    cp = 0.8125f;
    ep = 2;
    red = 5;
    rec = 2;
    conductanceMin = 550;
    conductanceMax = 900;
    registers = {{
        {kRegLeftHighCont, 0},
        {kRegRightHighCont, 0},
        {kRegStmax, 0xD226D5DC},  // Ip field 550, Pmax field 1500
        {kRegStpte, 0x0054228A},  // red 5, rec 2, ep 2, Pc field 650
    }};
}

UserSettings ConfigSettings::TakeUserSettings() const {
    return UserSettings{pmax, pc, ip, pref, cp, ep, red, rec, conductanceMin, conductanceMax};
}

void ConfigSettings::PutUserSettings(const UserSettings& in) {
    pmax = in.pmax;
    pc = in.pc;
    ip = in.ip;
    pref = in.pref;
    cp = in.cp;
    ep = in.ep;
    red = in.red;
    rec = in.rec;
    conductanceMin = in.conductanceMin;
    conductanceMax = in.conductanceMax;
}

void ConfigSettings::StoreCalculatedValues(uint32_t newCalcPmax, uint32_t newCalcPc,
                                           uint32_t newCalcIp) {
    calcPmax = newCalcPmax;
    calcPc = newCalcPc;
    calcIp = newCalcIp;
}

void ConfigSettings::GetRegisterEntry(int index, uint16_t& address, uint32_t& value) const {
    if (index < 0 || index >= static_cast<int>(registers.size())) {
        return;
    }
    address = registers[static_cast<std::size_t>(index)].address;
    value = registers[static_cast<std::size_t>(index)].value;
}

void ConfigSettings::SetRegisterValue(int index, uint32_t value) {
    if (index < 0 || index >= static_cast<int>(registers.size())) {
        return;
    }
    registers[static_cast<std::size_t>(index)].value = value;
}

}  // namespace k5
