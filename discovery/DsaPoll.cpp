#include "discovery/DsaPoll.h"

#include "foundation/NetworkInterfaces.h"

#include <string.h>

namespace Corvane {

bool DsaRowTakesPart(const corvane_remote_stream& row, int device)
{
    if (row.hash == 0 || row.node < 1 || row.node > CORVANE_REMOTE_NODES || row.device != device + 1) {
        return false;
    }
    if (row.kind != CORVANE_KIND_CORVANE && row.kind != CORVANE_KIND_ZINT && row.kind != CORVANE_KIND_QUILL) {
        return false;
    }
    const corvane_remote_node& node = corvane_remote_nodes[row.node - 1];
    return node.hash != 0 && node.no_address == 0;
}

std::vector<CDsaRow> CopyDsaRows(int device)
{
    struct Raw
    {
        char name[CORVANE_TEXT_SIZE];
        char host[CORVANE_TEXT_SIZE];
        uint8_t address[4];
        uint16_t port;
        uint8_t kind;
    };
    std::vector<Raw> raw;
    corvane_tables_lock();
    for (const corvane_remote_stream& row : corvane_remote_streams) {
        if (!DsaRowTakesPart(row, device)) {
            continue;
        }
        const corvane_remote_node& node = corvane_remote_nodes[row.node - 1];
        Raw copy;
        memcpy(copy.name, row.name, sizeof(copy.name));
        memcpy(copy.host, node.name, sizeof(copy.host));
        memcpy(copy.address, node.address, 4);
        copy.port = row.port;
        copy.kind = row.kind;
        raw.push_back(copy);
    }
    corvane_tables_unlock();

    std::vector<CDsaRow> rows;
    rows.reserve(raw.size());
    for (Raw& r : raw) {
        r.name[CORVANE_TEXT_SIZE - 1] = r.host[CORVANE_TEXT_SIZE - 1] = '\0';
        char* dot = strchr(r.host, '.');
        if (dot != nullptr) {
            *dot = '\0';
        }
        DWORD address = 0;
        memcpy(&address, r.address, 4);
        rows.push_back({CMfxString(r.name), r.kind, r.port, CMfxString(r.host), FormatIPv4(address)});
    }
    return rows;
}

void FillDsaDeviceName(char (&target)[CORVANE_TEXT_SIZE], const CMfxString& computerName)
{
    CMfxString name;
    name.Format(L"Velmora (on %s)", computerName.GetString());
    const char* ansi = name.GetAnsi();
    size_t n = strnlen(ansi, CORVANE_TEXT_SIZE - 2);
    memcpy(target, ansi, n);
    target[n] = '\0';
}

} // namespace Corvane
