// What a dialog test stands on: a converter on fake ports and memory panes, recorded message
// boxes, scripted modal showings, a settings folder of its own and a port probe that answers
// from a table.
#pragma once

#include <sys/stat.h>

#include <QTemporaryDir>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/app_services.h"
#include "core/converter.h"
#include "settings/settings_file.h"
#include "support/fake_port.h"
#include "support/scripted_ui.h"

namespace conv::test {

struct DialogEnv {
    DialogEnv() : conv(left, right, std::make_unique<FakePort>(), std::make_unique<FakePort>()) {
        services.boxes = &boxes;
        services.dialogs = &dialogs;
        services.settingsDir = dir.path().toStdString() + "/";
        services.makePort = [] { return std::make_unique<FakePort>(); };
        // A port answers from `ports`: 0 = can be opened, anything else = busy or missing;
        // names not in the table are missing.
        services.probePort = [this](const std::string& name) {
            ++probes;
            const auto it = ports.find(name);
            return it == ports.end() ? 1 : it->second;
        };
    }

    FakePort& ModbusPort() { return static_cast<FakePort&>(*conv.ModbusPort); }
    FakePort& VeltPort() { return static_cast<FakePort&>(*conv.VeltPort); }

    std::string IniPath() const { return services.SettingsPath(); }
    SettingsFile Ini() const { return SettingsFile(IniPath()); }
    std::string Read(const std::string& section, const std::string& key) const {
        return Ini().ReadString(section, key, "<absent>");
    }
    void Write(const std::string& section, const std::string& key, const std::string& value) {
        SettingsFile f(IniPath());
        if (!f.WriteString(section, key, value)) throw std::runtime_error(f.LastError());
    }
    // Locks the file the way an operator's read-only attribute does.
    void MakeReadOnly() { chmod(IniPath().c_str(), 0444); }

    QTemporaryDir dir;
    MemoryPane left;
    MemoryPane right;
    Converter conv;
    RecordingBoxes boxes;
    ScriptedDialogs dialogs;
    AppServices services;
    std::map<std::string, int> ports;
    int probes = 0;
};

}  // namespace conv::test
