// The list of polled tanks as the settings file keeps it: key N of section "Резервуар" is the
// channel address of tank N, or "-" for a tank that is not polled. Read at start-up and on every
// opening of the channel setup dialog.
#pragma once

namespace conv {

class IniDocument;
struct TankTable;

// Tanks 1..64 from `doc` into the table, in order: "-" (and an absent key) unconfigures a tank,
// a whole number configures it on that channel address, and the first value that is not a whole
// number ends the list there, silently, leaving the tanks after it as they were. Returns how many
// tanks it configured.
int ReadTankList(const IniDocument& doc, TankTable& table);

}  // namespace conv
