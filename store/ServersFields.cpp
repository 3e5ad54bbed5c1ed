// SPDX-License-Identifier: MIT
#include "store/ServersFields.h"

namespace mdlDatabase {

const std::vector<dao::Field>& ServersFields() {
    static const std::vector<dao::Field> fields = [] {
        struct Column {
            const char* name;
            dao::FieldType type;
            int size;
            bool allowZeroLength; // User and Password refuse the empty text; Official takes no such rule
        };
        static const Column columns[] = {
            {"User", dao::FieldType::Text, 15, false},      {"Password", dao::FieldType::Text, 15, false},
            {"Name", dao::FieldType::Text, 50, true},       {"Description", dao::FieldType::Text, 250, true},
            {"UpdateURL", dao::FieldType::Text, 250, true}, {"Official", dao::FieldType::Boolean, 0, false},
            {"Date", dao::FieldType::Byte, 0, true},        {"Time", dao::FieldType::Byte, 0, true},
        };
        std::vector<dao::Field> made;
        for (const Column& column : columns) {
            dao::Field field(column.name, column.type, column.size);
            if (column.allowZeroLength)
                field.SetAllowZeroLength(true);
            field.SetSecret(field.Name() == "Password");
            made.push_back(field);
        }
        return made;
    }();
    return fields;
}

bool IsSecretField(const std::string& name) {
    for (const dao::Field& field : ServersFields())
        if (field.Secret() && dao::sameName(field.Name(), name))
            return true;
    return false;
}

} // namespace mdlDatabase
