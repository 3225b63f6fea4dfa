#pragma once
// Raw spooler jobs through CUPS: the default destination, one job per document with the raw format, bytes streamed
// into the open document. The server is the usual one (CUPS_SERVER, client.conf, or the local scheduler). Each job
// has a connection of its own: the shared default connection is used by every other CUPS caller in the process
// (Qt's printer lookups among them), and a request there in the middle of a job would cut the job's data off.
#include <string>

#include "terminal/printer/printer_device.h"

class cups_raw_spooler : public printing::raw_spooler {
public:
    cups_raw_spooler() = default;
    ~cups_raw_spooler() override;
    cups_raw_spooler(const cups_raw_spooler&) = delete;
    cups_raw_spooler& operator=(const cups_raw_spooler&) = delete;

    bool default_printer(std::string& name) override;
    bool open(const std::string& name) override;
    bool start_document(std::string_view doc_name) override;
    bool start_page() override { return job_id_ > 0; }
    void write(const std::uint8_t* bytes, std::size_t n) override;
    void end_document() override;
    void close() override;

    int job_id() const { return job_id_; }
    // The printer chosen in the application's print setup; empty (or gone) means the system's default.
    void set_preferred(std::string name) { preferred_ = std::move(name); }

private:
    void disconnect();

    std::string preferred_;
    std::string printer_;
    int job_id_ = 0;
    bool document_open_ = false;
    struct _http_s* http_ = nullptr;  // libcups' http_t
};
