// The program's general error reporting: an error that an operation does not
// handle itself aborts that operation and is shown in an error box; the
// program keeps running. Window handlers are connected through Guarded() so
// that this happens in one place.
#pragma once

#include <QWidget>
#include <exception>
#include <functional>
#include <type_traits>
#include <utility>

namespace vostrel {

// Shows the error of e (for our errors the text names the file) in an error box.
void ReportError(QWidget *parent, const std::exception &e);
// Runs action; any exception it throws is reported and swallowed.
// Returns true when action finished without one.
bool RunGuarded(QWidget *parent, const std::function<void()> &action);

// Wraps a handler for connect(): Guarded(this, [this] { ... }) or
// Guarded(this, &TFormX::ButtonClick).
template <class Owner, class Fn> auto Guarded(Owner *owner, Fn fn)
{
    return [ owner, fn = std::move(fn) ]<class... A>(
               A && ...args) -> void requires std::is_invocable_v<const Fn &, Owner *, A...> ||
           std::is_invocable_v<const Fn &, A...>
    {
        RunGuarded(owner, [&] {
            if constexpr (std::is_invocable_v<const Fn &, Owner *, A...>)
                std::invoke(fn, owner, std::forward<A>(args)...);
            else
                std::invoke(fn, std::forward<A>(args)...);
        });
    };
}

} // namespace vostrel
