// SPDX-License-Identifier: MIT
#pragma once

// Runs Vantrel in the QApplication that exists: loads the list window, shows it, and returns
// when the last window has closed. Exit statuses: 0 after a normal end, 1 when the registry
// file is missing, 2 when the list could not be loaded.
int startVantrel();
