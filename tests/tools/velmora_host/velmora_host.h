// velmora_host: a console host of the gateway manager for end-to-end tests (not a product part).
//
// Commands arrive as lines on standard input: a command word, a blank, its argument text. Each
// answer is zero or more lines followed by "OK" or "ERROR <reason>". Command groups live in their
// own files as tables of CHostCommand; velmora_host.cpp lists the tables.
#pragma once

#include "foundation/MfxString.h"

#include <vector>

class CVelmoraManager;

struct CHostContext
{
    CVelmoraManager* manager = nullptr;
    // Set by a command that ends the host after its answer.
    bool quit = false;
};

struct CHostAnswer
{
    std::vector<CMfxString> lines;
    // Empty for success.
    CMfxString error;
};

struct CHostCommand
{
    const wchar_t* name;
    const wchar_t* usage;
    void (*run)(CHostContext& context, const CMfxString& argument, CHostAnswer& answer);
};

// The tables; each ends with an entry whose name is null.
extern const CHostCommand kManagerCommands[];
extern const CHostCommand kRetrievalCommands[];
extern const CHostCommand kStreamCommands[];
