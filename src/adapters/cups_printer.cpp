#include "adapters/cups_printer.h"

#include <cups/cups.h>

cups_raw_spooler::~cups_raw_spooler() {
    end_document();
    close();
}

bool cups_raw_spooler::default_printer(std::string& name) {
    cups_dest_t* dest = nullptr;
    if (!preferred_.empty()) dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, preferred_.c_str(), nullptr);
    if (!dest) dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
    if (!dest) return false;
    name = dest->name ? dest->name : "";
    cupsFreeDests(1, dest);
    return !name.empty();
}

bool cups_raw_spooler::open(const std::string& name) {
    // CUPS has no printer handle to hold; the destination must exist now, though.
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.c_str(), nullptr);
    if (!dest) return false;
    cupsFreeDests(1, dest);
    printer_ = name;
    return true;
}

bool cups_raw_spooler::start_document(std::string_view doc_name) {
    if (printer_.empty()) return false;
    disconnect();
    http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000, nullptr);
    if (!http_) return false;
    const std::string title(doc_name);
    job_id_ = cupsCreateJob(http_, printer_.c_str(), title.c_str(), 0, nullptr);
    if (job_id_ <= 0) {
        job_id_ = 0;
        disconnect();
        return false;
    }
    if (cupsStartDocument(http_, printer_.c_str(), job_id_, title.c_str(), CUPS_FORMAT_RAW, 1) !=
        HTTP_STATUS_CONTINUE) {
        // Do not leave an empty job waiting for a document that never comes.
        cupsCancelJob2(http_, printer_.c_str(), job_id_, 0);
        job_id_ = 0;
        disconnect();
        return false;
    }
    document_open_ = true;
    return true;
}

void cups_raw_spooler::write(const std::uint8_t* bytes, std::size_t n) {
    if (!document_open_ || n == 0) return;
    cupsWriteRequestData(http_, reinterpret_cast<const char*>(bytes), n);
}

void cups_raw_spooler::end_document() {
    if (!document_open_) return;
    cupsFinishDocument(http_, printer_.c_str());
    document_open_ = false;
    disconnect();
}

void cups_raw_spooler::close() {
    disconnect();
    printer_.clear();
    job_id_ = 0;
}

void cups_raw_spooler::disconnect() {
    if (http_) httpClose(http_);
    http_ = nullptr;
}
