#pragma once

// The name lookups of one socket: the pending lookup (its handle and the job a
// worker runs for it) and the results, DnsResult and DnsResultList. At most one
// lookup is pending; a completion whose handle no longer matches is stale.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/SocketWindow.h"

namespace vandrel::net {

class NameLookup {
public:
    // What a worker fills in: the library's error (0 on success) and the texts.
    struct Job {
        int handle = 0;
        int error = 0;
        std::vector<std::string> results;
    };

    bool Pending() const { return m_handle != 0; }
    const std::string& Result() const { return m_result; }
    const std::vector<std::string>& ResultList() const { return m_resultList; }

    // Forgets the pending lookup, if any, and the results.
    void Clear();
    // Forgets the pending lookup; its completion will not match.
    void Forget();
    // Results found without a lookup: the first is the result.
    void SetResults(std::vector<std::string> results);
    // Runs work on a worker thread and posts msg with the new handle as wParam
    // and the error in lParam bits 16-31.
    void Start(const SocketWindow::Poster& post, unsigned msg, std::function<void(Job&)> work);
    // A completion message: false unless it is the pending lookup's. On success
    // the job's texts become the results.
    bool Complete(std::uintptr_t wParam, int error);

    // Blocking library lookups: 0 and the texts, or the library's error. A name
    // gives its addresses, dotted; an address its official name and non-empty
    // aliases, in record order.
    static int AddressesOf(const std::string& name, std::vector<std::string>& out);
    static int NamesOf(std::uint32_t addrNetOrder, std::vector<std::string>& out);

private:
    int m_handle = 0;
    std::shared_ptr<Job> m_job;
    std::string m_result;
    std::vector<std::string> m_resultList;
};

}  // namespace vandrel::net
