// Fuzz target: the DSA engine's response parser. Whatever it reads must build back into whole
// messages of at most 1280 bytes that read the same records again.
#include "dsa_mdns/corvane_codec.h"

#include <stdlib.h>
#include <string.h>

// A name cut on reading is whole when read again: its cut mark and whole-label hash are left out.
static void clear_cut(corvane_record& r)
{
    r.name.cut = 0;
    r.name.whole = 0;
    if (r.type == CORVANE_TYPE_PTR || r.type == CORVANE_TYPE_NSEC) {
        r.rdata.ptr.cut = 0;
        r.rdata.ptr.whole = 0;
    } else if (r.type == CORVANE_TYPE_SRV) {
        r.rdata.srv.target.cut = 0;
        r.rdata.srv.target.whole = 0;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static corvane_msg msg, built;
    static corvane_record_list list, again;
    corvane_msg_set(&msg, data, size);
    if (corvane_mdns_parse_responses(&msg, &list) != CORVANE_OK || list.total == 0) {
        return 0;
    }
    if (list.total > CORVANE_RECORDS_MAX || list.answers + list.authority + list.additional != list.total) {
        abort();
    }
    uint16_t next = 0, seen = 0;
    while (next < list.total) {
        if (corvane_mdns_build_response(&built, &list, &next) != CORVANE_OK) {
            return 0; // e.g. a PTR to a name of no kind
        }
        if (built.length > CORVANE_MSG_WRITE_MAX || corvane_mdns_parse_responses(&built, &again) != CORVANE_OK) {
            abort();
        }
        for (uint16_t i = 0; i < again.total; ++i, ++seen) {
            corvane_record a = list.records[seen], b = again.records[i];
            clear_cut(a);
            clear_cut(b);
            if (seen >= list.total || memcmp(&a, &b, sizeof(a)) != 0) {
                abort();
            }
        }
    }
    if (seen != list.total) {
        abort();
    }
    return 0;
}
