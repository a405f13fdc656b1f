# The package's APT source: the vendor's signed repository (made by scripts/apt-repo), from which
# the system's package manager, unattended upgrades and the software centre update an install.
# Included by Packaging.cmake; writes into the build tree at configure time:
#
#   apt/velmora.sources   deb822 source for /etc/apt/sources.list.d, with the repository's
#                         public key in its Signed-By field
#   apt/conffiles         dpkg's list of the package's conffiles
#
# The source is a conffile: a user's edit survives upgrades, removing the package keeps it and
# purging removes it. The key lives in the source itself rather than in a keyring of its own
# under /usr/share/keyrings: dpkg would delete such a keyring at a removal while keeping the
# source, and every `apt-get update` would then fail on a repository it cannot check. Without
# VELMORA_APT_KEY the package ships no source, for the same reason.
set(VELMORA_APT_REPOSITORY "https://${VELMORA_PUBLIC_HOST}/apt" CACHE STRING
    "URL of the signed APT repository that updates the package")
set(VELMORA_APT_KEY "" CACHE FILEPATH
    "OpenPGP public key (armoured or binary) that signs the APT repository; empty: the package ships no APT source")

set(velmora_apt_dir ${CMAKE_BINARY_DIR}/apt)
set(velmora_apt_source_path /etc/apt/sources.list.d/velmora.sources)

# The source's architecture and the package's are one: the repository serves only the latter,
# and naming it keeps apt on a multiarch machine from asking for the others' indexes.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE velmora_deb_architecture
    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE velmora_dpkg_result)
if(NOT velmora_dpkg_result EQUAL 0)
    message(FATAL_ERROR "dpkg --print-architecture failed: the package is built on Debian (scripts/setup)")
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${velmora_deb_architecture})

file(REMOVE_RECURSE ${velmora_apt_dir})
if(NOT VELMORA_APT_KEY)
    return()
endif()

# One line of the deb822 file: a URL with a blank or a line break would end the field.
if(NOT VELMORA_APT_REPOSITORY MATCHES "^[a-z][a-z0-9+.-]*:[^ \t\r\n]+$")
    message(FATAL_ERROR "VELMORA_APT_REPOSITORY is not a URL: \"${VELMORA_APT_REPOSITORY}\"")
endif()
if(NOT EXISTS ${VELMORA_APT_KEY} OR IS_DIRECTORY ${VELMORA_APT_KEY})
    message(FATAL_ERROR "VELMORA_APT_KEY names no file: ${VELMORA_APT_KEY}")
endif()
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VELMORA_APT_KEY})
find_program(VELMORA_GPG gpg)
if(NOT VELMORA_GPG)
    message(FATAL_ERROR "gpg is needed to read VELMORA_APT_KEY (scripts/setup installs it)")
endif()

# gpg --dearmor passes a binary key through unchanged; neither command needs a keyring.
file(MAKE_DIRECTORY ${velmora_apt_dir})
execute_process(COMMAND ${VELMORA_GPG} --batch --no-options --yes --output ${velmora_apt_dir}/velmora.gpg
    --dearmor ${VELMORA_APT_KEY} RESULT_VARIABLE velmora_gpg_result ERROR_VARIABLE velmora_gpg_error)
if(velmora_gpg_result EQUAL 0)
    execute_process(
        COMMAND ${VELMORA_GPG} --batch --no-options --no-keyring --list-packets ${velmora_apt_dir}/velmora.gpg
        RESULT_VARIABLE velmora_gpg_result OUTPUT_VARIABLE velmora_key_packets ERROR_VARIABLE velmora_gpg_error)
endif()
# The file goes to every user: it must be a public key, and never carry a secret one.
if(velmora_key_packets MATCHES ":secret (sub)?key packet:")
    file(REMOVE_RECURSE ${velmora_apt_dir})
    message(FATAL_ERROR "VELMORA_APT_KEY holds a secret key; give the public one (gpg --export): ${VELMORA_APT_KEY}")
endif()
if(NOT velmora_gpg_result EQUAL 0 OR NOT velmora_key_packets MATCHES "^(#[^\n]*\n)?:public key packet:")
    file(REMOVE_RECURSE ${velmora_apt_dir})
    message(FATAL_ERROR "VELMORA_APT_KEY is not an OpenPGP public key: ${VELMORA_APT_KEY}\n${velmora_gpg_error}")
endif()

# apt takes the key in armour, its lines indented by one blank and an empty line written "."; a
# GnuPG home of its own turns whatever form the key file has into that.
set(velmora_gnupg_home ${velmora_apt_dir}/gnupg)
file(MAKE_DIRECTORY ${velmora_gnupg_home})
file(CHMOD ${velmora_gnupg_home} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
execute_process(COMMAND ${VELMORA_GPG} --batch --no-options --homedir ${velmora_gnupg_home} --import
    ${velmora_apt_dir}/velmora.gpg RESULT_VARIABLE velmora_gpg_result ERROR_VARIABLE velmora_gpg_error)
if(velmora_gpg_result EQUAL 0)
    execute_process(COMMAND ${VELMORA_GPG} --batch --no-options --homedir ${velmora_gnupg_home} --export --armor
        RESULT_VARIABLE velmora_gpg_result OUTPUT_VARIABLE velmora_armoured_key ERROR_VARIABLE velmora_gpg_error)
endif()
execute_process(COMMAND gpgconf --homedir ${velmora_gnupg_home} --kill all OUTPUT_QUIET ERROR_QUIET)
file(REMOVE_RECURSE ${velmora_gnupg_home} ${velmora_apt_dir}/velmora.gpg)
if(NOT velmora_gpg_result EQUAL 0 OR NOT velmora_armoured_key MATCHES "^-----BEGIN PGP PUBLIC KEY BLOCK-----")
    file(REMOVE_RECURSE ${velmora_apt_dir})
    message(FATAL_ERROR "VELMORA_APT_KEY could not be armoured: ${VELMORA_APT_KEY}\n${velmora_gpg_error}")
endif()
string(STRIP "${velmora_armoured_key}" velmora_armoured_key)
string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" velmora_armoured_key "${velmora_armoured_key}")
string(REPLACE "\n" "\n " velmora_armoured_key "${velmora_armoured_key}")

string(CONCAT velmora_apt_source
    "# Mises à jour de Velmóra par le dépôt de l’éditeur (installé par le paquet velmora)\n"
    "Types: deb\n"
    "URIs: ${VELMORA_APT_REPOSITORY}\n"
    "Suites: stable\n"
    "Components: main\n"
    "Architectures: ${velmora_deb_architecture}\n"
    "Signed-By:\n ${velmora_armoured_key}\n")
file(WRITE ${velmora_apt_dir}/velmora.sources "${velmora_apt_source}")
file(WRITE ${velmora_apt_dir}/conffiles "${velmora_apt_source_path}\n")

get_filename_component(velmora_apt_source_dir ${velmora_apt_source_path} DIRECTORY)
string(REGEX REPLACE "^/+" "" velmora_apt_source_dir "${velmora_apt_source_dir}")
install(FILES ${velmora_apt_dir}/velmora.sources DESTINATION ${velmora_apt_source_dir}
    COMPONENT package EXCLUDE_FROM_ALL)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${velmora_apt_dir}/conffiles)
