// Every fixed reply of the commands, gathered so they can be read together.
#pragma once

namespace replies {
inline constexpr char invalidSyntax[] = "Invalid syntax";
inline constexpr char notRegistered[] = "That freq is not registered";
inline constexpr char notOwner[] = "You are not the owner of that freq";

inline constexpr char tooManyOwned[] = "You already own too many freqs";
inline constexpr char invalidFreq[] = "Invalid freq";
inline constexpr char alreadyRegistered[] = "That freq is already registered";
inline constexpr char registered[] = "Freq registered";
inline constexpr char noLongerOwned[] = "This freq is no longer owned";
inline constexpr char unregistered[] = "Freq unregistered";
inline constexpr char noFreqs[] = "There are no registered freqs";
inline constexpr char nameChanged[] = "Freq name changed";
inline constexpr char passwordChanged[] = "Freq password changed";
inline constexpr char squadChanged[] = "Allowed squad changed";
inline constexpr char welcomeChanged[] = "Freq welcome message changed";

inline constexpr char invalidPassword[] = "Invalid password";
inline constexpr char joinSecondsLead[] = "You have ";
inline constexpr char joinSecondsTail[] =
    " seconds to join the freq. After that you must !fjoin again";
inline constexpr char mustBeInArena[] = "The other player must be in the arena";
inline constexpr char invitedYou[] = " invited you to freq ";
inline constexpr char inviteYouHave[] = ". You have ";
inline constexpr char inviteExpires[] = " seconds before the invite expires";
inline constexpr char playerInvited[] = "Player invited";
inline constexpr char playerNotFound[] = "Player not found";
inline constexpr char notOnFreq[] = "The player is not on the freq";
inline constexpr char kicked[] = "You were kicked from the freq";
inline constexpr char playerOwnsTooMany[] = "The player already owns too many freqs";
inline constexpr char nowOwner[] = "You are now the owner of freq ";
inline constexpr char ownerChanged[] = "Freq owner changed";

inline constexpr char freqsKilled[] = "All freqs owned by that used have been deleted";
inline constexpr char databaseCleared[] = "Freq database cleared";
} // namespace replies
