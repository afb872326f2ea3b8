// The eight blank forms: five certificates and three appendices.
#pragma once

#include "form.h"

#include <memory>
#include <vector>

// Which certificate a blank is for: worker's profession, employee's post, or either.
enum class Kind { Either, Profession, Post };

struct CertificateType {
    QString fileName;
    Kind kind;
    bool honours;
};

struct AppendixType {
    QString fileName;
    Kind kind;
};

// "о профессии рабочего" and so on: the kind as the blank's title says it.
QString kindPhrase(Kind kind);

std::unique_ptr<Form> buildCertificate(const CertificateType& type);
std::unique_ptr<Form> buildAppendix(const AppendixType& type);
std::vector<std::unique_ptr<Form>> buildAllForms();
