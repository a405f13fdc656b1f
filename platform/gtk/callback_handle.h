// What a GLib callback holds of an object that may be destroyed before the callback runs: a
// name watch, an object registered on the bus, an idle source.
#pragma once

#include <glib.h>

#include <memory>

namespace gtk {

// The object keeps a std::shared_ptr<T*> to itself and resets it first thing in its destructor;
// each callback gets a weak copy of it as its data, freed by GLib through release().
template <typename T>
struct CallbackHandle {
    // New callback data holding `self` weakly.
    static gpointer make(const std::shared_ptr<T*>& self) { return new std::weak_ptr<T*>(self); }
    // The object behind callback data, or nullptr once it is gone.
    static T* of(gpointer data) {
        const auto object = static_cast<std::weak_ptr<T*>*>(data)->lock();
        return object ? *object : nullptr;
    }
    // The free function of callback data made by make().
    static void release(gpointer data) { delete static_cast<std::weak_ptr<T*>*>(data); }
};

}  // namespace gtk
