// What every GUI test stands on: the program's seven windows on fake serial ports, in a settings
// folder of their own, every message box recorded and answered from a script, every modal showing
// scripted, and a port probe that answers from a table.
#pragma once

#include <QPushButton>
#include <QTemporaryDir>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/program_windows.h"
#include "settings/settings_file.h"
#include "settings/text_codec.h"
#include "support/scripted_ui.h"
#include "support/unpluggable_port.h"

namespace conv::test {

struct DialogEnv {
    DialogEnv() : windows(Start()), conv(windows->Conv()) {}

    TF_ModbusVelt& Main() { return *windows->F_ModbusVelt; }
    std::string IniPath() const { return services.SettingsPath(); }
    // The file as an operator's editor leaves it: Windows-1251 (the text given in UTF-8).
    void WriteFile(const std::string& utf8) {
        std::ofstream(IniPath(), std::ios::binary) << Utf8ToCp1251(utf8);
    }
    std::string Read(const std::string& section, const std::string& key) const {
        return SettingsFile(IniPath()).ReadString(section, key, "<absent>");
    }
    // The tanks polled, then those in the file, as "tank:channel" in ascending tank number.
    QString Tanks() const {
        QStringList polled, file;
        const IniDocument doc = SettingsFile(IniPath()).Document().value_or(IniDocument{});
        for (int n = 1; n <= kTankCount; ++n) {
            const TankEntry& t = conv.Table.Tank(n);
            if (t.Configured == 1) polled << QString("%1:%2").arg(n).arg(t.ChannelAddress);
            const auto v = doc.Get("Резервуар", std::to_string(n));
            if (v) file << QString("%1:%2").arg(n).arg(QString::fromStdString(*v));
        }
        return polled.join(' ') + " | " + file.join(' ');
    }

    QTemporaryDir dir;
    RecordingBoxes boxes;
    ScriptedDialogs dialogs;
    AppServices services;
    // As the main window made them, MODBUS then VELT: ports whose device can be taken away.
    std::vector<UnpluggablePort*> ports;
    std::map<std::string, int> free;  // what the probe answers: 0 = can be opened; absent = 1
    std::unique_ptr<Windows> windows;
    Converter& conv;

  private:
    std::unique_ptr<Windows> Start() {
        services.boxes = &boxes;
        services.dialogs = &dialogs;
        services.settingsDir = dir.path().toStdString() + "/";
        services.makePort = [this] {
            auto p = std::make_unique<UnpluggablePort>();
            ports.push_back(p.get());
            return p;
        };
        services.probePort = [this](const std::string& name) {
            return free.contains(name) ? free.at(name) : 1;
        };
        return std::make_unique<Windows>(services);
    }
};

}  // namespace conv::test
