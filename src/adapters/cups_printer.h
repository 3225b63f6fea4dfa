#pragma once
// Raw spooler jobs through CUPS: the default destination, one job per document with the raw format, bytes streamed
// into the open document. The server is the usual one (CUPS_SERVER, client.conf, or the local scheduler). Each job
// has a connection of its own: the shared default connection is used by every other CUPS caller in the process
// (Qt's printer lookups among them), and a request there in the middle of a job would cut the job's data off.
// libcups is opened at the first look-up, not linked: with its TLS and DNS-SD libraries it would otherwise sit in
// every client's memory from the start, printing or not.
#include <functional>
#include <string>

#include "terminal/printer/printer_device.h"

struct cups_functions;

class cups_raw_spooler : public printing::raw_spooler {
public:
    explicit cups_raw_spooler(std::string library = "libcups.so.2") : library_(std::move(library)) {}
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
    // Told once, with the loader's reason, when libcups cannot be opened; the look-ups then find no printer.
    void set_notice(std::function<void(const std::string&)> notice) { notice_ = std::move(notice); }

private:
    const cups_functions* cups();
    void disconnect();

    std::string library_;
    std::function<void(const std::string&)> notice_;
    bool told_ = false;
    const cups_functions* loaded_ = nullptr;  // the library's functions once found (raw data goes through per write)
    std::string preferred_;
    std::string printer_;
    int job_id_ = 0;
    bool document_open_ = false;
    struct _http_s* http_ = nullptr;  // libcups' http_t
};

inline constexpr const char* kPrintingNeedsCups = "Printing needs libcups2: ";
