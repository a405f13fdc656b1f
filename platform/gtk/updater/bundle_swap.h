// Putting an unpacked bundle in the place of the running one with two renames, so that the
// place always holds a complete bundle: the old one until the new one is there.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace gtk {

class BundleSwap {
public:
    // Renames `from` to `to`; 0 on success, else the errno value.
    using Rename = std::function<int(const std::string& from, const std::string& to)>;

    // Swaps `replacement` into `installed`, moving the installed bundle to `aside`.
    BundleSwap(std::string installed, std::string replacement, std::string aside, Rename rename = systemRename);

    // Moves the installed bundle aside and the replacement into its place; when the second
    // rename fails the first is undone. nullopt on success, else the French reason.
    std::optional<std::string> perform();
    // Undoes a performed swap: the replacement back to where it came from, the old bundle
    // back into its place. nullopt on success, else the French reason.
    std::optional<std::string> revert();

    // rename(2), which replaces nothing but an empty folder and stays on one file system.
    static int systemRename(const std::string& from, const std::string& to);

private:
    std::string installed_, replacement_, aside_;
    Rename rename_;
    bool performed_ = false;
};

}  // namespace gtk
