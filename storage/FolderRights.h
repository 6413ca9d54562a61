#pragma once

#include <string>
#include <vector>

// Who may do what in the data folder, as SDDL. Every user's agent keeps the
// one quorvel.dat here and replaces it at each write, so every user may
// create, write and replace files in it; but no user may change the folder
// itself, or a link could take its place and send the next agent's writes
// (another user's, or an administrator's) wherever it points.
//
//   D:P                     protected: nothing is inherited from the folder above
//   (A;OICI;FA;;;SY)        SYSTEM: full control of the folder and all in it
//   (A;OICI;FA;;;BA)        Administrators: the same
//   (A;;0x1200ab;;;BU)      Users, on the folder itself: list (0x1), add a file
//                           (0x2), read its attributes (0x8, 0x80), traverse
//                           (0x20), read its rights (0x20000), synchronize
//                           (0x100000). Not: add a subfolder (0x4), delete
//                           entries of others (0x40), delete or rename the
//                           folder (0x10000), change its rights (0x40000) or
//                           owner (0x80000).
//   (A;OIIO;0x13019f;;;BU)  Users, on each file in it (inherit only, never on
//                           subfolders): read (0x120089), write (0x120116) and
//                           delete (0x10000, which replacing by rename needs).
//                           Not: change its rights or owner.
//   (A;;0x1200ab;;;OW)      OWNER RIGHTS on the folder itself: its owner gets
//                           the users' rights and no more, in particular not
//                           the owner's implicit right to rewrite the access
//                           list (matters when the agent made the folder
//                           itself and the user who ran it owns it).
//   (A;OIIO;0x13019f;;;OW)  OWNER RIGHTS on each file: the user whose agent
//                           created a file cannot rewrite its access list to
//                           lock every other user's agent out.
//
// The agent, when it must make the folder itself, gives it this access list;
// the owner is then whoever ran it, as only an administrator may name
// another owner.
inline constexpr char dataFolderAccess[] =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;BU)(A;OIIO;0x13019f;;;BU)"
    "(A;;0x1200ab;;;OW)(A;OIIO;0x13019f;;;OW)";
// What the setup makes of the data folder: owner Administrators, the access
// list above.
inline const std::string dataFolderSecurity = std::string("O:BA") + dataFolderAccess;

// The install folder, wherever it is: quorvel.exe there starts at every
// user's logon (administrators' too) and uninstall.exe runs elevated, so no
// user may change a file there or add one (a DLL beside the programs would
// be loaded by them). Owner Administrators, protected (outside Program Files
// the folder above may give users modify rights), SYSTEM and Administrators
// full control, Users read and execute (0x1200a9: read 0x120089, execute
// 0x1200a0) on the folder and all in it.
inline constexpr char installFolderSecurity[] =
    "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// What to do when a link stands where the folder should be.
enum class LinkInPlace {
    Replace,  // remove the link (never what it leads to) and make the folder
    Refuse,
};

enum class RightsOutcome {
    Set,     // the folder exists with the owner and access list asked for
    Link,    // a link stands in the folder's place and was left as it is
    Failed,  // logged by the adapter
};

// A folder's owner and access list, read and set by the setup's steps
// (quorvel-check) and nothing else: the agent only creates its folder.
class FolderRights {
  public:
    virtual ~FolderRights() = default;
    // The folder's owner and access list as SDDL, read from the folder
    // itself even when it is a link; empty when they cannot be read.
    virtual std::string descriptorOf(const std::string& folder) = 0;
    // Creates the folder with `descriptor` (owner and protected access
    // list), or gives the existing folder that owner and access list, the
    // entries it passes on reaching what is already in it.
    virtual RightsOutcome impose(const std::string& folder, const std::string& descriptor,
                                 LinkInPlace link) = 0;
};

// How a folder's descriptor (SDDL as read back) differs from the wanted
// one, one phrase each; empty when both have the same owner and grant the
// same rights to the same accounts. Entries are compared by what they grant
// on the folder itself, to its files and to its subfolders, so the order
// and grouping Windows writes them in do not matter.
std::vector<std::string> rightsDifferences(const std::string& actual, const std::string& wanted);
