// The settings part of the main window's first showing: reads "Nastroika.ini" (creating it when
// there is no such file) into the tank table's configuration and the program-wide values.
#pragma once

#include <string>

#include "settings/keys.h"

namespace conv {

class SettingsFile;
class MessageBoxes;
class IniDocument;
class OperationLog;
struct Converter;
struct ProgramState;
struct TankTable;

// Steps of the start-up that read the file, in their order. A value that is not a whole number
// ends the block it stands in, silently, as it always has; a bad "Существует" value is reported
// and leaves that side unused, a bad value of a side's mode or times is reported and gives its
// default, and the start-up goes on. A file that is there but cannot be read
// is reported once and left untouched, and every value takes its default.
void LoadStartupSettings(SettingsFile& file, Converter& conv, MessageBoxes& boxes);

// "Существует" of one side: 1 only for the whole number 1; a bad value is reported by a box that
// names the section, the key and the value, and counts as 0.
int ReadPortExists(SettingsFile& file, const std::string& section, MessageBoxes& boxes);

// A key of a known range: its default when absent; when not a whole number in the range, its
// default, reported by a box that names the section, the key, the value and what applies.
int ReadRangedKey(SettingsFile& file, const ini::RangedKey& key, MessageBoxes& boxes);

// The pieces of that reading, for a program that reads the file again while it runs.
// The slave address and the tank list: one block, ended silently by the first value that is not a
// whole number (the values before it are taken, those after it stay as they were).
void ReadSlaveAndTanks(const IniDocument& doc, TankTable& table);
// "Флаг" / "Протокол": a value that is not a whole number leaves the flag as it was.
void ReadLogFlag(const SettingsFile& file, OperationLog& log);
// What the port dialog sets: both sides' port names, "Существует" values and modes.
void ReadPorts(SettingsFile& file, ProgramState& s, MessageBoxes& boxes);

}  // namespace conv
