#pragma once

#include "serveraddress.h"

class QWidget;

// The start of a program whose registry is on a server: the address from the settings, tried with
// the remembered password (or PGPASSWORD / ~/.pgpass), the password asked while the server refuses
// it, a server that cannot be reached said in words with the choice to try again.
namespace ServerLogin {
enum class Outcome {
    Server, // `address` opens: the registry is on the server
    File,   // the user chose the registry file on this computer for this run
    Quit,   // the user gave up
};
Outcome connect(ServerAddress* address, QWidget* parent = nullptr);
} // namespace ServerLogin
