// A logging environment that keeps its completed lines instead of writing them to a log file.
#pragma once

#include "gateway/LoggingUsageEnvironment.h"

#include <string>
#include <vector>

class LineCatcher : public CLoggingUsageEnvironment
{
public:
    explicit LineCatcher(TaskScheduler& scheduler) : CLoggingUsageEnvironment(scheduler, nullptr) {}
    std::vector<std::wstring> lines;

protected:
    void AddLogging(const CMfxString& line) override { lines.push_back(line.GetString()); }
};
