#pragma once

// The protocol an account's mailbox is reached by.
enum class MailProtocol { Pop3, Imap };
