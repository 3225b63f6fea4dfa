#pragma once
// How a stored face name becomes the font that is drawn. The view, the printer and both font choosers go through
// these, so a chooser shows (and on OK keeps) exactly the face the terminal draws, even when the stored name is not
// installed and fontconfig picks a substitute.
#include <QFont>
#include <QFontInfo>
#include <QString>

// A family as font lists name it may carry its foundry ("Nimbus Mono PS [urw]"); the stored name is the family.
inline QString face_family(const QString& name) {
    QString f = name.trimmed();
    if (f.endsWith(QLatin1Char(']'))) {
        const auto open = f.lastIndexOf(QLatin1String(" ["));
        if (open > 0) f.truncate(open);
    }
    return f;
}

// The request for a stored face: fixed pitch preferred, so a missing face falls back to a monospaced one.
inline QFont face_request(const QString& stored) {
    QFont f(face_family(stored));
    f.setStyleHint(QFont::TypeWriter, QFont::PreferAntialias);
    f.setFixedPitch(true);
    return f;
}

// The family the system draws for a stored face name, without a foundry.
inline QString resolved_face(const QString& stored) { return face_family(QFontInfo(face_request(stored)).family()); }
