#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing).
# Build: Qt 6, c-ares, GoogleTest, CMake. Tests: real SMTP clients and
# servers (swaks, Python smtplib/aiosmtpd, Postfix tools), dnsmasq for the
# block-list tests, SpamAssassin, Xvfb for window screenshots, clang for the
# fuzz targets; strace for the durability audit; openssl to make the TLS
# tests' certificates, ca-certificates for the store the client trusts;
# systemd and man-db for systemd-analyze's check of the unit and its pages;
# OpenSSL and libpsl (with the public suffix list) for sender authentication
# and DKIM signing; dkimpy (with PyNaCl for Ed25519) and OpenDKIM's tools as
# the independent signers and verifiers of its tests, PyYAML for the SPF test
# cases; lintian for the package;
# libseccomp's Python binding to run the server under the unit's system-call
# filter in a test.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6network6 libqt6widgets6
  libc-ares-dev libgtest-dev googletest
  python3 python3-aiosmtpd swaks dnsmasq-base
  spamassassin xvfb xauth clang clang-format libclang-rt-14-dev
  postfix strace openssl ca-certificates systemd man-db
  libssl-dev libpsl-dev publicsuffix
  python3-dkim python3-dnspython python3-nacl python3-yaml opendkim-tools lintian python3-seccomp
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  # Postfix asks where it stands; a local-only install needs no questions.
  echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
