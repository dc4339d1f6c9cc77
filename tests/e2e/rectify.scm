; plug-in-tessaform-rectify: a photographed rectangle flattened from a path
; on its corners. The layer's size and place, refusals that leave the image
; as it was, last values, the registration. (tessaform-warp --rectify gives
; the same bytes: scripts/cli-test.sh.)

; A page seen in perspective, clicked from its bottom-right corner against
; the screen's turn.
(define e2e-photo-quad '((35 26) (33 7) (6 4) (3 23)))

(define (photo-image)
  (let* ((im (make-image 40 30 RGBA-IMAGE 40 30 0 0 #f)))
    (fill-drawable (cadr im) 4 (pattern-value 4) #f)
    im))

(define (rectify mode image layer path width height interpolation aa)
  (set! e2e-call-start (e2e-ms))
  (let ((answer (plug-in-tessaform-rectify mode image layer path width height
                                           interpolation aa)))
    (e2e-call-done)
    (car answer)))

(define (layer-size layer)
  (list (car (gimp-drawable-width layer)) (car (gimp-drawable-height layer))))

; Every pixel sampled: the source's alpha is 128 or more everywhere, and
; nothing is left transparent.
(define (all-sampled? layer)
  (let ((pixels (vector->list (list-ref (layer-facts layer) 5))))
    (not (memv #f (map (lambda (p) (>= (list-ref p 3) 100)) pixels)))))

(define (e2e-cases)
  (group "the rectangle as asked, at the quadrangle's box"
    (lambda ()
      (let* ((im (photo-image)) (image (car im)) (layer (cadr im))
             (path (make-path image (list e2e-photo-quad)))
             (made (rectify RUN-NONINTERACTIVE image layer path 24 18 2 1)))
        (check "size as asked" '(24 18) (layer-size made))
        (check "at the top-left of the quadrangle's box" '(3 4) (gimp-drawable-offsets made))
        (check "directly above the drawable" (car (gimp-image-get-item-position image layer))
               (+ 1 (car (gimp-image-get-item-position image made))))
        (check "named after the drawable" "src__" (car (gimp-item-get-name made)))
        (check "every pixel lies inside the quadrangle: all sampled" #t (all-sampled? made))
        (gimp-image-delete image))))

  (group "refusals leave the image as it was"
    (lambda ()
      (let* ((im (photo-image)) (image (car im)) (layer (cadr im))
             (pixels (layer-facts layer)))
        (for-each
         (lambda (name strokes width interpolation)
           (check-refused name image
                          (lambda ()
                            (rectify RUN-NONINTERACTIVE image layer
                                     (make-path image strokes) width 0 interpolation 0))))
         (list "3 anchors" "two strokes" "a concave quadrangle" "corners out of order"
               "a negative width" "an unknown interpolation")
         (list (list (cdr e2e-photo-quad))
               (list e2e-photo-quad e2e-photo-quad)
               (list '((35 26) (20 18) (6 4) (3 23)))
               (list '((35 26) (6 4) (33 7) (3 23)))
               (list e2e-photo-quad)
               (list e2e-photo-quad))
         (list 0 0 0 0 -4 0)
         (list 1 1 1 1 1 7))
        (check "the drawable unchanged" pixels (layer-facts layer))
        (gimp-image-delete image))))

  (group "last values"
    (lambda ()
      (let* ((im (photo-image)) (image (car im)) (layer (cadr im))
             (path (make-path image (list e2e-photo-quad)))
             (first (rectify RUN-NONINTERACTIVE image layer path 0 0 3 0))
             (want (layer-facts first)))
        (gimp-image-remove-layer image first)
        ; The settings given here are not used: the last call's are.
        (let ((again (rectify RUN-WITH-LAST-VALS image layer path 0 0 0 1)))
          (check "renders with the last call's settings" want (layer-facts again)))
        (gimp-image-delete image))))

  (group "registration"
    (lambda ()
      (let ((info (gimp-procedural-db-proc-info "plug-in-tessaform-rectify")))
        (check "blurb" "Flatten a photographed rectangle to its true proportions"
               (list-ref info 0))
        (check "8 parameters, 1 return value" '(8 1) (list (list-ref info 6) (list-ref info 7))))
      (check "parameters"
             '((0 "run-mode") (13 "image") (16 "drawable") (19 "path") (0 "width")
               (0 "height") (0 "interpolation") (0 "anti-aliasing"))
             (map (lambda (i)
                    (let ((a (gimp-procedural-db-proc-arg "plug-in-tessaform-rectify" i)))
                      (list (car a) (cadr a))))
                  (iota 8)))
      (check "return value: the new layer's ID" '(0 "new-layer" "new Layer ID")
             (gimp-procedural-db-proc-val "plug-in-tessaform-rectify" 0)))))
