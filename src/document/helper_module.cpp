#include "helper_module.h"

#include <dlfcn.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <vector>

namespace doc {

namespace {

std::vector<std::string> moduleFolders()
{
    std::vector<std::string> folders;
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        folders.push_back((program.parent_path() / MOVARO_MODULE_SUBDIR).lexically_normal().string());
    folders.push_back(MOVARO_MODULE_BUILD_DIR);
    return folders;
}

} // namespace

void *helperModuleEntry(const char *file, const char *entry, std::string &error)
{
    static std::mutex mutex;
    // Loaded once a process, successful or not: a missing module is not looked for again.
    static std::map<std::string, std::pair<void *, std::string>> loaded;
    std::lock_guard lock(mutex);
    const std::string key = std::string(file) + '\n' + entry;
    if (const auto it = loaded.find(key); it != loaded.end()) {
        error = it->second.second;
        return it->second.first;
    }
    std::string tried;
    void *found = nullptr;
    for (const std::string &folder : moduleFolders()) {
        const std::string path = folder + '/' + file;
        if (!std::filesystem::exists(path)) {
            tried += (tried.empty() ? "" : ", ") + path;
            continue;
        }
        void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char *why = dlerror();
            tried = why ? why : path;
            break;
        }
        found = dlsym(handle, entry);
        if (!found)
            tried = path + ": no " + entry;
        break;
    }
    error = found ? std::string() : std::string(file) + " could not be loaded (" + tried + ")";
    loaded[key] = {found, error};
    return found;
}

} // namespace doc
