// Fuzz target: the DSA engine's query parser. Whatever it reads must build back into a query that
// reads the same questions again.
#include "dsa_mdns/corvane_codec.h"

#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static corvane_msg msg, built;
    static corvane_question_list list, again;
    corvane_msg_set(&msg, data, size);
    corvane_mdns_parse_queries(&msg, &list);
    if (list.count > CORVANE_QUESTIONS_MAX) {
        abort();
    }
    if (list.count == 0 || corvane_mdns_build_query(&built, &list) != CORVANE_OK) {
        return 0; // nothing read, or a question of no kind: nothing to write it as
    }
    if (corvane_mdns_parse_queries(&built, &again) != CORVANE_OK || again.count != list.count) {
        abort();
    }
    for (uint16_t i = 0; i < list.count; ++i) {
        corvane_question a = list.questions[i], b = again.questions[i];
        a.name.cut = b.name.cut = 0;
        a.name.whole = b.name.whole = 0;
        if (memcmp(&a, &b, sizeof(a)) != 0) {
            abort();
        }
    }
    return 0;
}
