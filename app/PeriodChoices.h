// What a dialog of the working period reaches of the title window: the window that owns
// it, and the setters through which it reports the user's choice. Nothing else.
#pragma once

#include "forms/Form.h"

#include <string>

class PeriodChoices {
public:
    virtual forms::Form& Window() = 0;
    virtual void SetCancel() = 0;
    virtual void SetReadOnly() = 0;
    virtual void SetDeleteLock() = 0;
    virtual void SetWait() = 0;
    virtual void SetKeepWork() = 0;
    // The first fill of an empty shared folder from the local one, as a period would copy
    // back: under the lock. False with the reason in `problem`.
    virtual bool FillSharedFolder(std::string& problem) = 0;
    // The program's title: it picks the edition's defaults.
    virtual const char* ProgramTitle() const = 0;

protected:
    ~PeriodChoices() = default;
};
