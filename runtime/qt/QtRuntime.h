#pragma once

#include "Controls.h"

#include <QApplication>
#include <QWidget>
#include <memory>

// The Qt side of the form runtime, as tests and benchmarks reach it.
namespace runtime::qt {

// What each side's control answers with its widget.
struct Shown {
    virtual ~Shown() = default;
    [[nodiscard]] virtual QWidget *shown() const = 0;
};

std::unique_ptr<Control> makeConnector(const char *name, QWidget *parent);

QWidget *widget(const Control *control);
QWidget *widget(const Form &form);

// Names the program and starts a fresh run.
void describeProgram(QApplication &application);

// Runs the load event, then shows the form and delivers events until it
// closes. An error before that ends the program before anything is shown.
int open(Form &form, QApplication &application);

} // namespace runtime::qt
