#pragma once

#include <QAbstractButton>
#include <functional>

namespace runtime {

// Runs one handler to completion. No exception gets past here: an error goes
// to the error path, and once it has run no handler runs again.
void deliver(const std::function<void()> &handler);

// Wires a button's click to a handler of the form.
template <class Form> void onClick(QAbstractButton *button, Form *form, void (Form::*handler)())
{
    QObject::connect(button, &QAbstractButton::clicked, form,
                     [form, handler] { deliver([form, handler] { (form->*handler)(); }); });
}

} // namespace runtime
