#include "users/user_context.h"

namespace veltra {

TUserContext& UserContext() {
    static TUserContext context;
    return context;
}

TRights& CurrentRights() {
    static TRights rights;
    return rights;
}

}  // namespace veltra
