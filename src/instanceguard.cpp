#include "instanceguard.h"

#include "MzReport/dialogs/messagebox.h"
#include "productinfo.h"

InstanceGuard::InstanceGuard(const QString& key) : _memory(key) {}

QString InstanceGuard::defaultKey() {
    return QStringLiteral("61BB200D-3579-453e-9044-") + ProductTypeInfo::appName();
}

bool InstanceGuard::acquire() {
#ifndef Q_OS_WIN
    // A segment left by a crashed copy survives it here. Attaching and detaching again removes a
    // segment that no live process holds; one held by a running copy stays.
    if (_memory.attach())
        _memory.detach();
#endif
    return _memory.create(512, QSharedMemory::ReadWrite);
}

int InstanceGuard::refuse() {
    MessageBox::show(nullptr, QMessageBox::NoIcon, QString(),
                     QStringLiteral("Приложение уже запущено на этом компьютере!\nОдновременный запуск нескольких "
                                    "копий приложения запрещён."),
                     QMessageBox::Ok, QMessageBox::Ok);
    return 1;
}
