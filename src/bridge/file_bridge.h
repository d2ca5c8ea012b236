#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>

#include "simconnect/simconnect_manager.h"

namespace velmar {

// The bridge-mode object: publishes samples and status as JSON files, records
// tests and carries out the commands of the command file.
class FileBridge {
public:
    FileBridge() = default;
    ~FileBridge();
    FileBridge(const FileBridge&) = delete;
    FileBridge& operator=(const FileBridge&) = delete;

    void setup_data_folder(const std::string& portable_directory);
    void install_callbacks();
    // Connects and runs both loops until request_stop; returns at once when
    // the connection fails.
    void run();
    // Ends both loops promptly; safe from any thread.
    void request_stop();

    void write_flight_data(const FlightData& sample);
    void write_data_file();
    void write_status_file(bool connected);

    void start_test();
    void stop_test();

    void poll_command_file();
    void process_command(const std::string& line);

    const std::string& data_file_path() const;
    const std::string& command_file_path() const;
    const std::string& status_file_path() const;

private:
    // Fields in this order: simconnect, running, last_json, data_file_path,
    // command_file_path, status_file_path, test_active, test_start, recording;
    // then the synchronisation they need.
};

}  // namespace velmar
