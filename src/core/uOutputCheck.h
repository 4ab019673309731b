#pragma once

#include <QString>

// What a tool run makes, as far as the file it writes can show it.
enum class OutputKind {
    Key,         // a private key (RSA or elliptic curve) in PEM, encrypted or not
    Request,     // a certificate request in PEM
    Certificate, // a certificate in PEM
    Bundle       // a PKCS#12 bundle in DER (.pfx, .p12)
};

// True when the file at path is a regular file that holds a complete output of the kind. For
// the PEM kinds that is a block of the kind: its BEGIN line and, further on, its END line (the
// tool may write other lines around it, such as "Bag Attributes"). For a bundle it is one
// DER SEQUENCE of definite length that fills the file exactly, as a bundle must be for the
// tool to read it. Links are not followed, and nothing waits on a FIFO or a device.
bool outputIsComplete(const QString& path, OutputKind kind);
