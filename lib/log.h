// A denoiser's messages, through the caller's log function.
#pragma once

#include <string>

#include "velmora/velmora.h"

namespace velmora {

class Log {
public:
    explicit Log(const velmora_settings& s) : fn_(s.log), user_(s.log_user), level_(s.log_level) {}

    // Whether messages of `level` are wanted (so that they need not be made otherwise).
    bool wants(velmora_log_level level) const { return fn_ && level <= level_; }
    void say(velmora_log_level level, const std::string& text) const {
        if (wants(level)) fn_(user_, level, text.c_str());
    }

private:
    void (*fn_)(void*, velmora_log_level, const char*);
    void* user_;
    velmora_log_level level_;
};

}  // namespace velmora
