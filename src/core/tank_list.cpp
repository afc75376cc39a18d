#include "core/tank_list.h"

#include <string>

#include "settings/ini_document.h"
#include "settings/keys.h"
#include "store/tank_table.h"

namespace conv {

int ReadTankList(const IniDocument& doc, TankTable& table) {
    int configured = 0;
    for (int n = 1; n <= kTankCount; ++n) {
        TankEntry& tank = table.Tank(n);
        const std::string text =
            doc.Get(ini::kTanks, std::to_string(n)).value_or(ini::kTankDefault);
        if (text == ini::kTankDefault) {
            tank.Configured = 0;
            tank.ChannelAddress = 0;
            continue;
        }
        int address = 0;
        if (!ParseWholeNumber(text, address)) break;
        tank.ChannelAddress = address;
        tank.Configured = 1;
        ++configured;
    }
    return configured;
}

}  // namespace conv
