#pragma once

#include "Controls.h"

#include <QApplication>
#include <QWidget>

// The Qt side of the form runtime, as tests and benchmarks reach it.
namespace runtime::qt {

QWidget *widget(const Control *control);
QWidget *widget(const Form &form);

// Names the program and starts a fresh run.
void describeProgram(QApplication &application);

// Runs the load event, then shows the form and delivers events until it
// closes. An error before that ends the program before anything is shown.
int open(Form &form, QApplication &application);

} // namespace runtime::qt
