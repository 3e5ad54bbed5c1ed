// SPDX-License-Identifier: MIT
#pragma once

#include "store/Field.h"

#include <vector>

namespace mdlDatabase {

// The eight fields of the account table "Servers", in the order the program makes them, with
// their types, sizes and zero-length rules. The one place that states them.
const std::vector<dao::Field>& ServersFields();

// Whether the field of "Servers" named `name` (in any case) is secret: see Field::Secret.
bool IsSecretField(const std::string& name);

} // namespace mdlDatabase
