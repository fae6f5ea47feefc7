#pragma once

#include <optional>
#include <string>

namespace k5::test {

// Sets an environment variable for the life of the object and restores it afterwards. Tests
// that use it must not run threads that read the environment at the same time.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace k5::test
