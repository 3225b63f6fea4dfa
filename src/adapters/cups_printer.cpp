#include "adapters/cups_printer.h"

#include <cups/cups.h>
#include <dlfcn.h>

#include <map>
#include <mutex>

// The calls the spooler makes, typed from the header so a changed signature fails the build.
struct cups_functions {
    decltype(&::cupsGetNamedDest) get_named_dest = nullptr;
    decltype(&::cupsFreeDests) free_dests = nullptr;
    decltype(&::cupsServer) server = nullptr;
    decltype(&::ippPort) ipp_port = nullptr;
    decltype(&::cupsEncryption) encryption = nullptr;
    decltype(&::httpConnect2) http_connect2 = nullptr;
    decltype(&::httpClose) http_close = nullptr;
    decltype(&::cupsCreateJob) create_job = nullptr;
    decltype(&::cupsStartDocument) start_document = nullptr;
    decltype(&::cupsCancelJob2) cancel_job2 = nullptr;
    decltype(&::cupsWriteRequestData) write_request_data = nullptr;
    decltype(&::cupsFinishDocument) finish_document = nullptr;
    std::string error;  // empty when every function was found
};

namespace {

template <class F>
bool bind(void* lib, F& f, const char* name, std::string& error) {
    f = reinterpret_cast<F>(::dlsym(lib, name));
    if (!f && error.empty()) error = std::string("no ") + name + " in the library";
    return f != nullptr;
}

cups_functions open_library(const std::string& library) {
    cups_functions c;
    // Never closed: Qt's print support opens the same library, and handles held by either stay valid.
    void* lib = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        const char* why = ::dlerror();
        c.error = why ? why : "cannot open " + library;
        return c;
    }
    bool ok = bind(lib, c.get_named_dest, "cupsGetNamedDest", c.error);
    ok = bind(lib, c.free_dests, "cupsFreeDests", c.error) && ok;
    ok = bind(lib, c.server, "cupsServer", c.error) && ok;
    ok = bind(lib, c.ipp_port, "ippPort", c.error) && ok;
    ok = bind(lib, c.encryption, "cupsEncryption", c.error) && ok;
    ok = bind(lib, c.http_connect2, "httpConnect2", c.error) && ok;
    ok = bind(lib, c.http_close, "httpClose", c.error) && ok;
    ok = bind(lib, c.create_job, "cupsCreateJob", c.error) && ok;
    ok = bind(lib, c.start_document, "cupsStartDocument", c.error) && ok;
    ok = bind(lib, c.cancel_job2, "cupsCancelJob2", c.error) && ok;
    ok = bind(lib, c.write_request_data, "cupsWriteRequestData", c.error) && ok;
    ok = bind(lib, c.finish_document, "cupsFinishDocument", c.error) && ok;
    if (!ok) c.error = library + ": " + c.error;
    return c;
}

// One attempt per library name and process: a library that was missing at the first job stays missing.
const cups_functions& library_functions(const std::string& library) {
    static std::mutex m;
    static std::map<std::string, cups_functions> loaded;
    const std::lock_guard lock(m);
    auto it = loaded.find(library);
    if (it == loaded.end()) it = loaded.emplace(library, open_library(library)).first;
    return it->second;
}

}  // namespace

cups_raw_spooler::~cups_raw_spooler() {
    end_document();
    close();
}

const cups_functions* cups_raw_spooler::cups() {
    if (loaded_) return loaded_;
    const cups_functions& c = library_functions(library_);
    if (c.error.empty()) return loaded_ = &c;
    if (!told_ && notice_) notice_(kPrintingNeedsCups + c.error);
    told_ = true;
    return nullptr;
}

bool cups_raw_spooler::default_printer(std::string& name) {
    const cups_functions* c = cups();
    if (!c) return false;
    cups_dest_t* dest = nullptr;
    if (!preferred_.empty()) dest = c->get_named_dest(CUPS_HTTP_DEFAULT, preferred_.c_str(), nullptr);
    if (!dest) dest = c->get_named_dest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
    if (!dest) return false;
    name = dest->name ? dest->name : "";
    c->free_dests(1, dest);
    return !name.empty();
}

bool cups_raw_spooler::open(const std::string& name) {
    const cups_functions* c = cups();
    if (!c) return false;
    // CUPS has no printer handle to hold; the destination must exist now, though.
    cups_dest_t* dest = c->get_named_dest(CUPS_HTTP_DEFAULT, name.c_str(), nullptr);
    if (!dest) return false;
    c->free_dests(1, dest);
    printer_ = name;
    return true;
}

bool cups_raw_spooler::start_document(std::string_view doc_name) {
    const cups_functions* c = cups();
    if (!c || printer_.empty()) return false;
    disconnect();
    http_ = c->http_connect2(c->server(), c->ipp_port(), nullptr, AF_UNSPEC, c->encryption(), 1, 30000, nullptr);
    if (!http_) return false;
    const std::string title(doc_name);
    job_id_ = c->create_job(http_, printer_.c_str(), title.c_str(), 0, nullptr);
    if (job_id_ <= 0) {
        job_id_ = 0;
        disconnect();
        return false;
    }
    if (c->start_document(http_, printer_.c_str(), job_id_, title.c_str(), CUPS_FORMAT_RAW, 1) !=
        HTTP_STATUS_CONTINUE) {
        // Do not leave an empty job waiting for a document that never comes.
        c->cancel_job2(http_, printer_.c_str(), job_id_, 0);
        job_id_ = 0;
        disconnect();
        return false;
    }
    document_open_ = true;
    return true;
}

// Only an open document reaches libcups below, and a document is opened only through a loaded library.
void cups_raw_spooler::write(const std::uint8_t* bytes, std::size_t n) {
    if (!document_open_ || n == 0) return;
    cups()->write_request_data(http_, reinterpret_cast<const char*>(bytes), n);
}

void cups_raw_spooler::end_document() {
    if (!document_open_) return;
    cups()->finish_document(http_, printer_.c_str());
    document_open_ = false;
    disconnect();
}

void cups_raw_spooler::close() {
    disconnect();
    printer_.clear();
    job_id_ = 0;
}

void cups_raw_spooler::disconnect() {
    if (http_) cups()->http_close(http_);
    http_ = nullptr;
}
