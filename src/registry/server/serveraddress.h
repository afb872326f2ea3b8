#pragma once

#include <QString>

// Where a registry on a PostgreSQL server is: what the settings keep and what the tools accept as
// "postgresql://user@host:port/dbname". The password is never part of the address text.
struct ServerAddress {
    QString host; // a name, an address, or a folder holding the server's Unix socket
    int port = 5432;
    QString database;
    QString user;
    QString password;

    bool isComplete() const { return !host.isEmpty() && !database.isEmpty() && !user.isEmpty() && port > 0; }
    // "postgresql://user@host:port/dbname" (a socket folder is written percent-encoded, as libpq reads it).
    QString toUrl() const;
    // The address as the clerk reads it: nothing percent-encoded, a socket folder as a path
    // ("registry (postgres, сокет в папке /run/postgresql, порт 5432)").
    QString displayText() const;
    // Reads such an address ("postgres://" too; port, user optional: 5432 and the login name). The
    // password comes from PGPASSWORD, else from ~/.pgpass (or PGPASSFILE), as libpq reads them.
    // False with the reason in words for anything else.
    static bool fromUrl(const QString& text, ServerAddress* address, QString* error);
    // Whether the text is meant as a server address rather than a file name.
    static bool looksLikeUrl(const QString& text);
    bool operator==(const ServerAddress& o) const {
        return host == o.host && port == o.port && database == o.database && user == o.user && password == o.password;
    }
};
