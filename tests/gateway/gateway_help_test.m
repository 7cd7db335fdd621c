% "help Brelvane" prints the help text that sits next to the module.
text = evalc ("help Brelvane");
for phrase = {"X = BRELVANE(X0, P, C, ALPHA, Q, D, BETA, N, ITERATIONS)", "Gauss-Southwell", ...
              "must be symmetric", "truncated toward zero", "Brelvane:<mnemonic>", "Example", ...
              "GradientTolerance", "INFO.stop", "Scaling", "2^-floor(e/2)", "Ctrl+C"}
  assert (! isempty (strfind (text, phrase{1})), "help text lacks '%s'", phrase{1});
end
disp ("gateway help: all assertions passed");
