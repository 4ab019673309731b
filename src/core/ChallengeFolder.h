#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// The folder .well-known/acme-challenge/ of a web root, where lego puts the answers that the
// authority fetches over HTTP. The web root may belong to someone else who can replace any
// folder in it at any time, so the folder is opened once, without following a link below the web
// root, and everything after that goes through the descriptor held: the probe that proves this
// program may write there, and the removal of what the issuance left behind.
class ChallengeFolder {
  public:
    // Opens the folder, making .well-known and acme-challenge (mode 0755, for the web server)
    // where they are missing, and writes and removes a probe file in it. Throws PageError with
    // the reason, for the user, when that cannot be done.
    explicit ChallengeFolder(const QString& webRoot);
    // Removes the answers that were noted, and the folders that the constructor made when they
    // are empty again.
    ~ChallengeFolder();
    ChallengeFolder(const ChallengeFolder&) = delete;
    ChallengeFolder& operator=(const ChallengeFolder&) = delete;

    // Starts noting the files made in the folder from now on. Only those of them that are
    // regular files of this user, with the name of an answer (a token), are removed at the end:
    // lego removes its answers when it ends by itself, but not when it is ended.
    void noteNewAnswers();

  private:
    struct State;
    std::unique_ptr<State> state;
};
